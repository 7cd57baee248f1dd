#include "AviWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kSuperIndexEntries = 256; // parts of about 1 GiB each
constexpr uint32_t kIndexChunkBytes = 24 + 16 * kSuperIndexEntries;

// Little-endian building of header bytes.
class Bytes {
public:
    Bytes() { data.reserve(256); }
    std::vector<uint8_t> data;
    size_t size() const { return data.size(); }
    Bytes& u8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Bytes& u64(uint64_t v) { return u32(uint32_t(v)).u32(uint32_t(v >> 32)); }
    Bytes& fourcc(const char* f) {
        data.insert(data.end(), f, f + 4);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& v) {
        data.insert(data.end(), v.begin(), v.end());
        return *this;
    }
    Bytes& zeros(size_t n) {
        data.insert(data.end(), n, 0);
        return *this;
    }
    void set32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = uint8_t(v >> (8 * i));
    }
};

const char* chunkId(int stream) {
    return stream == 0 ? "00dc" : "01wb";
}

const char* indexId(int stream) {
    return stream == 0 ? "ix00" : "ix01";
}

uint32_t blockAlign(const AviAudioFormat& a) {
    return uint32_t(a.channels) * ((a.bitsPerSample + 7) / 8);
}

} // namespace

std::vector<uint8_t> trv2BitmapInfo(int width, int height, uint32_t packedQuality) {
    Bytes b;
    b.u32(48).u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(24).fourcc("TRV2");
    b.u32(uint32_t(width) * uint32_t(height) * 2).u32(0).u32(0).u32(0).u32(0);
    b.u32(packedQuality).fourcc("TAVR");
    return b.data;
}

AviWriter::~AviWriter() {
    if (isOpen())
        close();
}

bool AviWriter::put(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0 && !m_failed) {
        const ssize_t n = ::pwrite(m_fd, p, size, static_cast<off_t>(m_end));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(n == 0 ? ENOSPC : errno);
            break;
        }
        p += n;
        size -= static_cast<size_t>(n);
        m_end += static_cast<uint64_t>(n);
    }
    return !m_failed;
}

bool AviWriter::putAt(uint64_t offset, const void* data, size_t size) {
    if (m_failed)
        return false;
    const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
    if (n != static_cast<ssize_t>(size))
        fail(n < 0 ? errno : ENOSPC);
    return !m_failed;
}

void AviWriter::fail(int error) {
    if (!m_failed)
        m_errno = error;
    m_failed = true;
}

std::string AviWriter::lastError() const {
    return m_errno ? std::strerror(m_errno) : std::string();
}

bool AviWriter::open(const std::string& path, const AviVideoFormat& video,
                     const std::optional<AviAudioFormat>& audio, std::string* error) {
    if (isOpen())
        close();
    m_video = video;
    m_audio = audio;
    m_stream[0] = m_stream[1] = Stream{};
    m_super[0].clear();
    m_super[1].clear();
    m_riffs.clear();
    m_failed = false;
    m_errno = 0;
    m_end = 0;
    m_path = path;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_errno = errno;
        if (error)
            *error = path + ": " + std::strerror(m_errno);
        return false;
    }
    // Only a plain file is ever removed again; a name that is a device stays what it is.
    struct stat st {};
    m_regularFile = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    if (video.rateNumerator == 0 || video.rateDenominator == 0) {
        m_video.rateNumerator = 25; // no rate known: the usual one
        m_video.rateDenominator = 1;
    }

    Bytes h;
    h.fourcc("RIFF").u32(0).fourcc("AVI ");
    h.fourcc("LIST");
    const size_t hdrlSize = h.size();
    h.u32(0).fourcc("hdrl");
    h.fourcc("avih").u32(56);
    h.u32(static_cast<uint32_t>(uint64_t(1000000) * m_video.rateDenominator / m_video.rateNumerator));
    h.u32(0).u32(0).u32(kAvifHasIndex | (audio ? kAvifIsInterleaved : 0));
    m_avihFramesAt = h.size();
    h.u32(0)
        .u32(0)
        .u32(audio ? 2 : 1)
        .u32(0)
        .u32(uint32_t(video.width))
        .u32(uint32_t(video.height))
        .zeros(16);

    const auto strl = [&](int stream) {
        h.fourcc("LIST");
        const size_t sizeAt = h.size();
        h.u32(0).fourcc("strl");
        h.fourcc("strh").u32(56);
        if (stream == 0) {
            h.fourcc("vids").fourcc(m_video.fourcc).u32(0).u16(0).u16(0).u32(0);
            h.u32(m_video.rateDenominator).u32(m_video.rateNumerator).u32(0);
        } else {
            const uint32_t align = blockAlign(*audio);
            h.fourcc("auds").u32(0).u32(0).u16(0).u16(0).u32(0);
            h.u32(align).u32(audio->sampleRate * align).u32(0);
        }
        m_stream[stream].strhLengthAt = h.size();
        h.u32(0).u32(0).u32(0xFFFFFFFF).u32(stream == 0 ? 0 : blockAlign(*audio));
        h.u16(0)
            .u16(0)
            .u16(stream == 0 ? uint16_t(video.width) : 0)
            .u16(stream == 0 ? uint16_t(video.height) : 0);
        if (stream == 0) {
            h.fourcc("strf").u32(uint32_t(m_video.format.size())).raw(m_video.format);
            if (m_video.format.size() % 2)
                h.u8(0);
        } else {
            const uint32_t align = blockAlign(*audio);
            h.fourcc("strf").u32(18).u16(1).u16(audio->channels).u32(audio->sampleRate);
            h.u32(audio->sampleRate * align).u16(uint16_t(align)).u16(audio->bitsPerSample).u16(0);
        }
        // Room for an OpenDML super index; it stays junk while the file is one RIFF.
        m_stream[stream].indxAt = h.size();
        h.fourcc("JUNK").u32(kIndexChunkBytes).zeros(kIndexChunkBytes);
        h.set32(sizeAt, uint32_t(h.size() - sizeAt - 4));
    };
    strl(0);
    if (audio)
        strl(1);
    h.fourcc("LIST").u32(4 + 8 + 248).fourcc("odml").fourcc("dmlh").u32(248);
    m_dmlhAt = h.size();
    h.zeros(248);
    h.set32(hdrlSize, uint32_t(h.size() - hdrlSize - 4));

    m_riffs.push_back({0, 0, {}});
    put(h.data.data(), h.size());
    const Bytes movi = Bytes().fourcc("LIST").u32(4).fourcc("movi");
    m_riffs.back().moviStart = m_end;
    put(movi.data.data(), movi.size());
    if (!updateHeaders()) {
        // A disk already full: no header-only file is left behind.
        if (error)
            *error = path + ": " + lastError();
        ::close(m_fd);
        m_fd = -1;
        if (m_regularFile)
            ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool AviWriter::startRiff() {
    Riff riff{m_end, 0, {}};
    Bytes b;
    b.fourcc("RIFF").u32(4 + 12).fourcc("AVIX").fourcc("LIST").u32(4).fourcc("movi");
    riff.moviStart = m_end + 12;
    m_riffs.push_back(riff);
    return put(b.data.data(), b.size());
}

bool AviWriter::writeChunk(int stream, const uint8_t* data, size_t size, bool key) {
    if (!isOpen() || m_failed || size > 0x7FFFFFF0u)
        return false;
    // A new RIFF part once this one would grow past its limit (room kept for its indexes).
    Riff* riff = &m_riffs.back();
    const uint64_t indexRoom =
        32 + 8 * (riff->entries[0].size() + riff->entries[1].size() + 2) +
        (m_riffs.size() == 1 ? 16 * (riff->entries[0].size() + riff->entries[1].size() + 1) : 0);
    if (m_end + 8 + size + indexRoom - riff->start > m_riffLimit && !riff->entries[0].empty()) {
        if (!finishRiff(false) || !startRiff())
            return false;
        riff = &m_riffs.back();
    }
    const uint64_t at = m_end;
    const Bytes header = Bytes().fourcc(chunkId(stream)).u32(uint32_t(size));
    put(header.data.data(), header.size());
    put(data, size);
    if (size % 2) {
        const uint8_t pad = 0;
        put(&pad, 1);
    }
    if (m_failed)
        return false;
    riff->entries[stream].push_back({at, uint32_t(size), key});
    Stream& s = m_stream[stream];
    ++s.chunks;
    s.bytes += size;
    s.largest = std::max(s.largest, uint32_t(size));
    return updateHeaders();
}

bool AviWriter::writeVideoFrame(const uint8_t* data, size_t size, bool keyFrame) {
    return writeChunk(0, data, size, keyFrame);
}

bool AviWriter::writeAudio(const uint8_t* data, size_t size) {
    return m_audio && writeChunk(1, data, size, true);
}

// Sizes and counts that make the file readable as it stands.
bool AviWriter::updateHeaders(bool sizes) {
    if (sizes) {
        const Riff& riff = m_riffs.back();
        uint32_t v = uint32_t(m_end - riff.start - 8);
        putAt(riff.start + 4, &v, 4);
        v = uint32_t(m_end - riff.moviStart - 8);
        putAt(riff.moviStart + 4, &v, 4);
    }
    const uint32_t firstFrames = uint32_t(m_riffs.front().entries[0].size());
    putAt(m_avihFramesAt, &firstFrames, 4);
    const uint32_t largest = std::max(m_stream[0].largest, m_stream[1].largest);
    putAt(m_avihFramesAt + 12, &largest, 4);
    putAt(m_stream[0].strhLengthAt, &m_stream[0].chunks, 4);
    putAt(m_stream[0].strhLengthAt + 4, &m_stream[0].largest, 4);
    if (m_audio) {
        const uint32_t blocks = uint32_t(m_stream[1].bytes / blockAlign(*m_audio));
        putAt(m_stream[1].strhLengthAt, &blocks, 4);
        putAt(m_stream[1].strhLengthAt + 4, &m_stream[1].largest, 4);
    }
    putAt(m_dmlhAt, &m_stream[0].chunks, 4);
    // The rate, as it was given or as it was measured since.
    const uint32_t perFrame_us =
        static_cast<uint32_t>(uint64_t(1000000) * m_video.rateDenominator / m_video.rateNumerator);
    putAt(m_avihFramesAt - 16, &perFrame_us, 4);
    putAt(m_stream[0].strhLengthAt - 12, &m_video.rateDenominator, 4);
    putAt(m_stream[0].strhLengthAt - 8, &m_video.rateNumerator, 4);
    return !m_failed;
}

void AviWriter::setFrameRate(uint32_t numerator, uint32_t denominator) {
    if (numerator == 0 || denominator == 0)
        return;
    m_video.rateNumerator = numerator;
    m_video.rateDenominator = denominator;
}

bool AviWriter::writeStandardIndex(int stream, const Riff& riff, uint64_t& at, uint32_t& size) {
    const auto& entries = riff.entries[stream];
    Bytes b;
    b.fourcc(indexId(stream)).u32(uint32_t(24 + 8 * entries.size()));
    b.u16(2).u8(0).u8(1).u32(uint32_t(entries.size())).fourcc(chunkId(stream)).u64(riff.moviStart).u32(0);
    for (const auto& e : entries)
        b.u32(uint32_t(e.offset + 8 - riff.moviStart)).u32(e.size | (e.key ? 0 : 0x80000000u));
    at = m_end;
    size = uint32_t(b.size());
    return put(b.data.data(), b.size());
}

bool AviWriter::finishRiff(bool last) {
    Riff& riff = m_riffs.back();
    const bool openDml = !last || m_riffs.size() > 1;
    if (openDml) {
        for (int s = 0; s < (m_audio ? 2 : 1); ++s) {
            if (riff.entries[s].empty())
                continue;
            uint64_t at;
            uint32_t size;
            writeStandardIndex(s, riff, at, size);
            const uint32_t duration = s == 0 ? uint32_t(riff.entries[s].size()) : [&] {
                uint64_t bytes = 0;
                for (const auto& e : riff.entries[s])
                    bytes += e.size;
                return uint32_t(bytes / blockAlign(*m_audio));
            }();
            m_super[s].push_back({at, size, duration});
        }
    }
    // The movi list ends here; the first RIFF carries the classic index after it.
    uint32_t v = uint32_t(m_end - riff.moviStart - 8);
    putAt(riff.moviStart + 4, &v, 4);
    if (m_riffs.size() == 1) {
        std::vector<std::pair<uint64_t, int>> order;
        for (int s = 0; s < 2; ++s)
            for (size_t i = 0; i < riff.entries[s].size(); ++i)
                order.emplace_back(riff.entries[s][i].offset, s * (1 << 30) + int(i));
        std::sort(order.begin(), order.end());
        Bytes idx;
        idx.fourcc("idx1").u32(uint32_t(16 * order.size()));
        for (const auto& [offset, code] : order) {
            const int s = code >> 30;
            const IndexEntry& e = riff.entries[s][size_t(code & ((1 << 30) - 1))];
            idx.fourcc(chunkId(s))
                .u32(e.key ? kAviifKeyframe : 0)
                .u32(uint32_t(e.offset - riff.moviStart - 8))
                .u32(e.size);
        }
        put(idx.data.data(), idx.size());
    }
    v = uint32_t(m_end - riff.start - 8);
    putAt(riff.start + 4, &v, 4);
    return !m_failed;
}

bool AviWriter::close() {
    if (!isOpen())
        return false;
    finishRiff(true);
    if (m_riffs.size() > 1) {
        // The junk kept in each stream list becomes its super index.
        for (int s = 0; s < (m_audio ? 2 : 1); ++s) {
            Bytes b;
            b.fourcc("indx").u32(kIndexChunkBytes).u16(4).u8(0).u8(0);
            b.u32(uint32_t(std::min<size_t>(m_super[s].size(), kSuperIndexEntries)))
                .fourcc(chunkId(s))
                .zeros(12);
            for (size_t i = 0; i < m_super[s].size() && i < kSuperIndexEntries; ++i)
                b.u64(m_super[s][i].offset).u32(m_super[s][i].size).u32(m_super[s][i].duration);
            b.zeros(8 + kIndexChunkBytes - b.size());
            putAt(m_stream[s].indxAt, b.data.data(), b.size());
        }
    }
    updateHeaders(false); // the sizes were settled by finishRiff()
    if (!m_failed && ::fsync(m_fd) != 0)
        fail(errno);
    ::close(m_fd);
    m_fd = -1;
    // A clip without a single picture (the disk was full from the start) is no clip.
    if (m_stream[0].chunks == 0 && m_regularFile)
        ::unlink(m_path.c_str());
    return !m_failed;
}

} // namespace gardivo
