#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

struct AviVideoFormat {
    int width = 0;
    int height = 0;
    uint32_t rateNumerator = 25; // frames per second as a fraction
    uint32_t rateDenominator = 1;
    char fourcc[4] = {'T', 'R', 'V', '2'};
    // The stream format chunk: a bitmap info header, possibly extended (for TRV2 the 48 bytes
    // that end with the quality parameters and "TAVR").
    std::vector<uint8_t> format;
};

struct AviAudioFormat {
    uint16_t channels = 1;
    uint32_t sampleRate = 22050;
    uint16_t bitsPerSample = 16;
};

// The stream format chunk of a TRV2 stream.
std::vector<uint8_t> trv2BitmapInfo(int width, int height, uint32_t packedQuality);

// Writes an AVI file: one video stream and an optional PCM audio stream, interleaved in the order
// they are written, with an idx1 index and, once the file passes the size of one RIFF (1 GiB),
// OpenDML AVIX parts with their indexes. The headers are brought up to date after every chunk,
// so a file whose writer died still holds every complete frame written, readable without index.
class AviWriter {
public:
    static constexpr uint64_t kDefaultRiffLimit = 1ull << 30;

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    bool open(const std::string& path, const AviVideoFormat& video,
              const std::optional<AviAudioFormat>& audio, std::string* error = nullptr);
    bool writeVideoFrame(const uint8_t* data, size_t size, bool keyFrame = true);
    bool writeAudio(const uint8_t* data, size_t size);
    // The frame rate, when it is only known once the frames were seen (a camera that states none):
    // it goes into the headers written at close.
    void setFrameRate(uint32_t numerator, uint32_t denominator);
    // Writes the indexes and the final headers. False when anything could not be written. A file
    // that got no picture at all is removed.
    bool close();
    bool isOpen() const { return m_fd >= 0; }
    // Why opening or the first write failed, "" while nothing did.
    std::string lastError() const;
    // That failure was a full disk.
    bool diskFull() const { return m_errno == ENOSPC; }

    uint32_t videoFrames() const { return m_stream[0].chunks; }
    uint64_t audioBytes() const { return m_stream[1].bytes; }
    int riffCount() const { return static_cast<int>(m_riffs.size()); }
    // Tests make the OpenDML parts start early.
    void setRiffLimit(uint64_t bytes) { m_riffLimit = bytes; }

private:
    struct IndexEntry {
        uint64_t offset; // of the chunk header in the file
        uint32_t size;   // of the data
        bool key;
    };
    struct Riff {
        uint64_t start;     // of "RIFF"
        uint64_t moviStart; // of "LIST" of its movi list
        std::vector<IndexEntry> entries[2];
    };
    struct Stream {
        uint32_t chunks = 0;
        uint64_t bytes = 0;
        uint32_t largest = 0;
        uint64_t strhLengthAt = 0; // file offset of the strh length field
        uint64_t indxAt = 0;       // file offset of the super index chunk
    };

    bool writeChunk(int stream, const uint8_t* data, size_t size, bool key);
    bool startRiff();
    bool finishRiff(bool last);
    bool writeStandardIndex(int stream, const Riff& riff, uint64_t& at, uint32_t& size);
    // Counts, and with sizes the RIFF and movi sizes measured to the end of the file.
    bool updateHeaders(bool sizes = true);
    bool put(const void* data, size_t size);
    void fail(int error);
    bool putAt(uint64_t offset, const void* data, size_t size);

    int m_fd = -1;
    std::string m_path;
    bool m_regularFile = false;
    bool m_failed = false;
    int m_errno = 0;
    uint64_t m_end = 0; // current end of file
    uint64_t m_riffLimit = kDefaultRiffLimit;
    AviVideoFormat m_video;
    std::optional<AviAudioFormat> m_audio;
    Stream m_stream[2];
    std::vector<Riff> m_riffs;
    uint64_t m_avihFramesAt = 0;
    uint64_t m_dmlhAt = 0;
    // The standard indexes of the parts already finished, per stream: (offset, size, duration).
    struct SuperEntry {
        uint64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    std::vector<SuperEntry> m_super[2];
};

} // namespace gardivo
