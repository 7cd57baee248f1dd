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

} // namespace

std::array<uint8_t, 54> bitmapFileHeaders(int width, int height) {
    const uint32_t imageSize = bitmapHeaderFor(width, height).biSizeImage;
    std::array<uint8_t, 54> headers{};
    headers[0] = 'B';
    headers[1] = 'M';
    putLe32(headers.data() + 2, 14 + 40 + imageSize);
    putLe32(headers.data() + 10, 54);
    putLe32(headers.data() + 14, 40);
    putLe32(headers.data() + 18, static_cast<uint32_t>(width));
    putLe32(headers.data() + 22, static_cast<uint32_t>(height));
    putLe16(headers.data() + 26, 1);
    putLe16(headers.data() + 28, 24);
    putLe32(headers.data() + 34, imageSize);
    return headers;
}

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

    // The reference and the alarm picture one above the other: one picture twice as high.
    const auto half = bitmapHeaderFor(m_frameWidth, m_frameHeight);
    const auto headers = bitmapFileHeaders(m_frameWidth, m_frameHeight * 2);
    m_bitmapBuffer.resize(half.biSizeImage);
    bool ok = WriteAll(fd, headers.data(), headers.size());
    // Rows go bottom-up: the reference fills the lower half, the alarm picture the upper.
    const std::vector<uint8_t>* halves[] = {&m_referenceFrame, &current};
    for (const auto* frame : halves) {
        if (!ok)
            break;
        m_services.converter->convertToRgb(half, m_bitmapBuffer.data(), frame->data());
        ok = WriteAll(fd, m_bitmapBuffer.data(), half.biSizeImage);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

bool DetectionEngine::PlayWarningSound() {
    return m_services.sound && m_services.sound->play();
}

} // namespace gardivo
