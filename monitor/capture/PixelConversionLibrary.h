#pragma once

#include "monitor/engine/EngineServices.h"

#include <cstdint>
#include <string>

namespace gardivo {

// The pixel conversion module, loaded by name from the program directory. Without the module, or
// with one that lacks "ConvertToRGB", nothing can be turned into a bitmap and the detector does
// not count frames.
class PixelConversionLibrary final : public PixelConverter {
public:
    static constexpr const char* kFileName = "libdeinterlace.so";

    explicit PixelConversionLibrary(const std::string& programDirectory);
    ~PixelConversionLibrary() override;
    PixelConversionLibrary(const PixelConversionLibrary&) = delete;
    PixelConversionLibrary& operator=(const PixelConversionLibrary&) = delete;

    bool isLoaded() const override { return m_convertToRgb != nullptr; }
    const std::string& path() const { return m_path; }

    // Fills a bitmap header for a width x height 24-bit picture, image size included.
    static GardivoBitmapInfoHeader bitmapHeader(int width, int height) {
        return bitmapHeaderFor(width, height);
    }
    bool convertToRgb(const GardivoBitmapInfoHeader& header, uint8_t* destination,
                      const uint8_t* source) const override;

private:
    using ConvertFunction = int (*)(const GardivoBitmapInfoHeader*, void*, const void*);
    using CopyFunction = void (*)(void*, const void*, size_t);

    std::string m_path;
    void* m_handle = nullptr;
    ConvertFunction m_convertToRgb = nullptr;
    ConvertFunction m_convertToYuy2 = nullptr;
    CopyFunction m_memcpy = nullptr;
};

} // namespace gardivo
