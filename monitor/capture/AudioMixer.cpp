#include "AudioMixer.h"

#include <algorithm>

namespace gardivo {

MixerController::MixerController(std::unique_ptr<MixerBackend> backend) : m_backend(std::move(backend)) {}

bool MixerController::Init() {
    if (!m_backend || m_backend->deviceCount() <= 0 || !m_backend->open())
        return false;
    // Destinations: the speakers (lines with a playback level) and the recording input.
    m_playbackLines = m_backend->playbackLines();
    m_captureLines = m_backend->captureLines();
    int destination = 0;
    if (!m_playbackLines.empty())
        m_speakers = destination++;
    if (!m_captureLines.empty()) {
        m_waveIn = destination++;
        m_multiplexer = m_backend->captureMultiplexer();
        // Without a multiplexer the enumeration ends here: no master controls either.
        if (!m_multiplexer)
            return true;
        m_itemNames = m_multiplexer->items;
        // Each line finds its item by name; of several lines of one name ('Capture',0 and
        // 'Capture',1), the n-th finds the n-th item of that name.
        for (size_t k = 0; k < m_captureLines.size(); ++k) {
            const std::string& name = m_captureLines[k].name;
            const auto earlier =
                std::count_if(m_captureLines.begin(), m_captureLines.begin() + static_cast<long>(k),
                              [&](const MixerBackend::Line& l) { return l.name == name; });
            int item = static_cast<int>(k);
            int first = -1;
            long seen = 0;
            for (size_t i = 0; i < m_itemNames.size(); ++i)
                if (m_itemNames[i] == name) {
                    if (first < 0)
                        first = static_cast<int>(i);
                    if (seen++ == earlier) {
                        first = static_cast<int>(i);
                        break;
                    }
                }
            if (first >= 0)
                item = first;
            m_sourceToItem.push_back(item);
        }
    }
    for (const auto& line : m_playbackLines)
        m_playbackNames.push_back(line.name);
    m_hasMaster = m_backend->masterLine().has_value();
    return true;
}

bool MixerController::readLevel(const MixerBackend::Line& line, bool capture, uint32_t& level) {
    const int channel = line.channels > 1 && m_balance > 0 ? 1 : 0;
    return m_backend->volume(line, capture, channel, level);
}

bool MixerController::writeLevel(const MixerBackend::Line& line, bool capture, uint32_t level) {
    if (line.channels <= 1)
        return m_backend->setVolume(line, capture, 0, level);
    uint32_t first = level, second = level;
    if (m_balance <= 0)
        second = static_cast<uint32_t>(level * (m_balance + 1));
    else
        first = static_cast<uint32_t>(level * (1 - m_balance));
    return m_backend->setVolume(line, capture, 0, first) && m_backend->setVolume(line, capture, 1, second);
}

bool MixerController::SelectPlaybackSource(int index) {
    if (m_speakers < 0 || index < 0 || index >= static_cast<int>(m_playbackLines.size()))
        return false;
    const auto& line = m_playbackLines[static_cast<size_t>(index)];
    uint32_t level = 0;
    bool mute = false;
    if (!readLevel(line, false, level) || !m_backend->muted(line, mute))
        return false;
    m_playbackIndex = index;
    m_playbackVolume = level;
    m_playbackMute = mute;
    return true;
}

bool MixerController::SelectRecordingSource(int index) {
    if (m_waveIn < 0 || index < 0 || index >= static_cast<int>(m_captureLines.size()))
        return false;
    const auto& line = m_captureLines[static_cast<size_t>(index)];
    uint32_t level = 0;
    if (!readLevel(line, true, level))
        return false;
    m_recordingIndex = index;
    m_recordingVolume = level;
    if (m_multiplexer) {
        // The recording level follows the level the line plays at.
        if (m_playbackIndex >= 0 && writeLevel(line, true, m_playbackVolume))
            m_recordingVolume = m_playbackVolume;
        // Choosing an input sets it on; it never turns a chosen input off.
        const int item = m_sourceToItem[static_cast<size_t>(index)];
        if (item < 0 || item >= static_cast<int>(m_multiplexer->items.size()))
            return false;
        if (m_multiplexer->singleSelect) {
            for (int i = 0; i < static_cast<int>(m_multiplexer->items.size()); ++i)
                m_backend->selectItem(i, i == item);
        } else {
            m_backend->selectItem(item, true);
        }
        bool selected = false;
        m_backend->itemSelected(item, selected);
        m_recordingSelected = selected;
    }
    return true;
}

} // namespace gardivo
