#pragma once

// The pixel conversion module gardivo loads by name ("libdeinterlace.so") and calls through
// these C entries. Frames come in as UYVY (U, Y0, V, Y1 per pixel pair, rows top first, two
// bytes per pixel); bitmaps go out as bottom-up 24-bit rows of blue, green, red.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The 40-byte bitmap info header, laid out as in a bitmap file.
typedef struct GardivoBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} GardivoBitmapInfoHeader;

// Converts a UYVY picture of header->biWidth x header->biHeight pixels into the pixel data of a
// bottom-up 24-bit bitmap with rows of ((24 * width + 31) / 32) * 4 bytes (ITU-R BT.601, limited
// range). Returns 0, or -1 when the header does not describe such a bitmap (nothing is written).
int ConvertToRGB(const GardivoBitmapInfoHeader* header, void* destination, const void* source);

// Copies UYVY rows to YUY2 (Y0, U, Y1, V) keeping their order. Returns 0 or -1 like ConvertToRGB.
int ConvertToYUY2(const GardivoBitmapInfoHeader* header, void* destination, const void* source);

// A plain block copy; kept for the programs that look it up by name.
void memcpyMMX(void* destination, const void* source, size_t bytes);

#ifdef __cplusplus
}
#endif
