// The evidence of a condition: the run's directory, the event entry and the bitmap that shows the
// alarm picture above the reference picture.

#include "DetectionEngine.h"

#include "platform/FileOps.h"
#include "platform/FileProbes.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

size_t DetectionEngine::currentSlot() const {
    const size_t k = m_conditionCount % 100;
    return k == 0 ? 100 : k;
}

bool DetectionEngine::CreateEvidenceDirectory() {
    const std::tm t = m_clock.localTime();
    const std::string working = fieldText(m_settings.settings().WorkingDirectory);
    MakeDirectories(working); // it may well exist
    char name[64];
    std::snprintf(name, sizeof name, "%d.%02d.%02d_%02d.%02d.%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    const std::string path = joinPath(working, name);
    // Only a new directory will do: a run started in the same second must not write over the
    // evidence of the one before (the next event tries again, a second later).
    if (::mkdir(path.c_str(), 0755) != 0) {
        m_settings.setEvidenceDirectory("");
        return false;
    }
    m_settings.setEvidenceDirectory(path);
    return true;
}

bool DetectionEngine::RecordEvent() {
    const size_t k = currentSlot();
    // Someone may have removed the directory since the run began; it comes back.
    if (m_settings.evidenceDirectory().empty())
        CreateEvidenceDirectory();
    else if (!DirectoryExists(m_settings.evidenceDirectory()))
        MakeDirectories(m_settings.evidenceDirectory());
    const std::string& dir = m_settings.evidenceDirectory();
    const std::tm t = m_clock.localTime();
    char time[64], description[32], image[32];
    std::snprintf(time, sizeof time, "%d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::snprintf(description, sizeof description, "Condition%03u", m_conditionCount);
    std::snprintf(image, sizeof image, "error%03u.bmp", m_conditionCount);
    const auto slash = dir.find_last_of('/');
    EventEntry& entry = m_events[k];
    entry.GroupName = slash == std::string::npos ? dir : dir.substr(slash + 1);
    entry.Time = time;
    entry.Remark.clear();
    entry.Description = description;
    // Without an evidence directory there is nowhere to keep the picture; the alarm goes on.
    entry.ImagePath = dir.empty() ? std::string() : joinPath(dir, image);
    entry.VideoPath.clear();
    return true;
}

bool DetectionEngine::WriteEvidenceBitmap(const std::string& path, FrameSlot slot) {
    if (!hasConversionLibrary() || path.empty())
        return false;
    const auto& current = slotBuffer(slot);
    const size_t frameBytes = static_cast<size_t>(m_frameWidth) * static_cast<size_t>(m_frameHeight) * 2;
    // A frame slot of another size than the picture would be read past its end.
    if (m_frameWidth <= 0 || m_frameHeight <= 0 || m_referenceFrame.size() < frameBytes ||
        current.size() < frameBytes)
        return false; // nothing whole to show
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;

    const auto half = bitmapHeaderFor(m_frameWidth, m_frameHeight);
    const uint32_t imageSize = half.biSizeImage * 2;
    uint8_t headers[54] = {};
    headers[0] = 'B';
    headers[1] = 'M';
    putLe32(headers + 2, 14 + 40 + imageSize);
    putLe32(headers + 10, 54);
    putLe32(headers + 14, 40);
    putLe32(headers + 18, static_cast<uint32_t>(m_frameWidth));
    putLe32(headers + 22, static_cast<uint32_t>(m_frameHeight * 2));
    putLe16(headers + 26, 1);
    putLe16(headers + 28, 24);
    putLe32(headers + 34, imageSize);

    m_bitmapBuffer.resize(half.biSizeImage);
    bool ok = writeAll(fd, headers, sizeof headers);
    // Rows go bottom-up: the reference fills the lower half, the alarm picture the upper.
    const std::vector<uint8_t>* halves[] = {&m_referenceFrame, &current};
    for (const auto* frame : halves) {
        if (!ok)
            break;
        m_services.converter->convertToRgb(half, m_bitmapBuffer.data(), frame->data());
        ok = writeAll(fd, m_bitmapBuffer.data(), half.biSizeImage);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

bool DetectionEngine::PlayWarningSound() {
    return m_services.sound && m_services.sound->play();
}

} // namespace gardivo
