#pragma once

// The sound card's mixer: the line the capture card's sound is wired to is chosen as the
// recording source, at the level the same line plays at. The rules are kept apart from ALSA
// (MixerBackend) so they can be tried on a mixer of the tests' own.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

class MixerBackend {
public:
    // A line is its name and its index among the lines of that name ('Capture',0 and
    // 'Capture',1 are two lines).
    struct Line {
        std::string name;
        int channels = 1;
        int index = 0;
    };
    struct Multiplexer {
        std::vector<std::string> items;
        bool singleSelect = true;
    };

    virtual ~MixerBackend() = default;
    virtual int deviceCount() = 0;
    // Opens mixer device 0.
    virtual bool open() = 0;
    // The lines the speakers play (with a playback volume), and those that can be recorded.
    virtual std::vector<Line> playbackLines() = 0;
    virtual std::vector<Line> captureLines() = 0;
    // The overall playback line ("Master"), when there is one.
    virtual std::optional<Line> masterLine() = 0;
    virtual std::optional<Multiplexer> captureMultiplexer() = 0;
    // Levels are 0..65535 whatever the card's own range.
    virtual bool volume(const Line& line, bool capture, int channel, uint32_t& level) = 0;
    virtual bool setVolume(const Line& line, bool capture, int channel, uint32_t level) = 0;
    virtual bool muted(const Line& line, bool& mute) = 0;
    virtual bool itemSelected(int item, bool& selected) = 0;
    virtual bool selectItem(int item, bool selected) = 0;
};

// ALSA's simple mixer on the first card ("hw:0").
std::unique_ptr<MixerBackend> makeAlsaMixerBackend();

class MixerController {
public:
    explicit MixerController(std::unique_ptr<MixerBackend> backend);

    // False when there is no mixer device; then no controller is kept.
    bool Init();
    bool SelectPlaybackSource(int index);
    bool SelectRecordingSource(int index);

    // 0 unless changed; negative turns the second channel down, positive the first.
    void setBalance(double balance) { m_balance = balance; }
    int speakersDestination() const { return m_speakers; }
    int waveInDestination() const { return m_waveIn; }
    const std::vector<std::string>& playbackSourceNames() const { return m_playbackNames; }
    const std::vector<std::string>& multiplexerItemNames() const { return m_itemNames; }
    // The multiplexer item that selects each recording source.
    const std::vector<int>& sourceToItem() const { return m_sourceToItem; }
    int selectedPlaybackSource() const { return m_playbackIndex; }
    int selectedRecordingSource() const { return m_recordingIndex; }
    uint32_t playbackVolume() const { return m_playbackVolume; }
    bool playbackMute() const { return m_playbackMute; }
    uint32_t recordingVolume() const { return m_recordingVolume; }
    bool recordingItemSelected() const { return m_recordingSelected; }
    bool hasMaster() const { return m_hasMaster; }

private:
    // The level a line is read at: the second channel when there is one and the balance leans
    // to it, else the first.
    bool readLevel(const MixerBackend::Line& line, bool capture, uint32_t& level);
    bool writeLevel(const MixerBackend::Line& line, bool capture, uint32_t level);

    std::unique_ptr<MixerBackend> m_backend;
    double m_balance = 0;
    int m_speakers = -1;
    int m_waveIn = -1;
    std::vector<MixerBackend::Line> m_playbackLines;
    std::vector<MixerBackend::Line> m_captureLines;
    std::vector<std::string> m_playbackNames;
    std::vector<std::string> m_itemNames;
    std::optional<MixerBackend::Multiplexer> m_multiplexer;
    std::vector<int> m_sourceToItem;
    bool m_hasMaster = false;
    int m_playbackIndex = -1;
    int m_recordingIndex = -1;
    uint32_t m_playbackVolume = 0;
    bool m_playbackMute = false;
    uint32_t m_recordingVolume = 0;
    bool m_recordingSelected = false;
};

} // namespace gardivo
