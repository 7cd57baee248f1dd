// The mixer of the first sound card through ALSA's simple mixer. Playback elements with a volume
// are the lines the speakers play; elements with a capture volume or switch are the lines that
// can be recorded; the enumerated capture element ("Capture Source", "Input Source") is the
// recording multiplexer, or else the capture switches are, several at once.

#include "AudioMixer.h"

#include <alsa/asoundlib.h>

#include <cstring>

namespace gardivo {

namespace {

// "Capture Source", "Input Source" and the like: an enumerated capture element.
bool isCaptureSourceEnum(snd_mixer_elem_t* e) {
    return snd_mixer_selem_is_enumerated(e) && snd_mixer_selem_is_enum_capture(e);
}

int channelsOf(snd_mixer_elem_t* e, bool capture) {
    if (capture)
        return snd_mixer_selem_is_capture_mono(e) ? 1 : 2;
    return snd_mixer_selem_is_playback_mono(e) ? 1 : 2;
}

snd_mixer_selem_channel_id_t channelId(int channel) {
    return channel == 0 ? SND_MIXER_SCHN_FRONT_LEFT : SND_MIXER_SCHN_FRONT_RIGHT;
}

class AlsaMixerBackend final : public MixerBackend {
public:
    ~AlsaMixerBackend() override {
        if (m_mixer)
            snd_mixer_close(m_mixer);
    }

    int deviceCount() override {
        int card = -1, count = 0;
        while (snd_card_next(&card) == 0 && card >= 0)
            ++count;
        return count;
    }

    bool open() override {
        if (snd_mixer_open(&m_mixer, 0) < 0)
            return false;
        if (snd_mixer_attach(m_mixer, "hw:0") < 0 ||
            snd_mixer_selem_register(m_mixer, nullptr, nullptr) < 0 || snd_mixer_load(m_mixer) < 0) {
            snd_mixer_close(m_mixer);
            m_mixer = nullptr;
            return false;
        }
        return true;
    }

    std::vector<Line> playbackLines() override {
        std::vector<Line> lines;
        for (snd_mixer_elem_t* e = first(); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_playback_volume(e))
                lines.push_back({snd_mixer_selem_get_name(e), channelsOf(e, false),
                                 static_cast<int>(snd_mixer_selem_get_index(e))});
        return lines;
    }

    std::vector<Line> captureLines() override {
        std::vector<Line> lines;
        for (snd_mixer_elem_t* e = first(); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_is_active(e) &&
                (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e)))
                lines.push_back({snd_mixer_selem_get_name(e), channelsOf(e, true),
                                 static_cast<int>(snd_mixer_selem_get_index(e))});
        return lines;
    }

    std::optional<Line> masterLine() override {
        if (snd_mixer_elem_t* e = find("Master"); e && snd_mixer_selem_has_playback_volume(e))
            return Line{"Master", channelsOf(e, false)};
        return std::nullopt;
    }

    std::optional<Multiplexer> captureMultiplexer() override {
        for (snd_mixer_elem_t* e = first(); e; e = snd_mixer_elem_next(e)) {
            if (!isCaptureSourceEnum(e))
                continue;
            Multiplexer mux;
            const int items = snd_mixer_selem_get_enum_items(e);
            for (int i = 0; i < items; ++i) {
                char name[128] = {};
                snd_mixer_selem_get_enum_item_name(e, static_cast<unsigned>(i), sizeof name, name);
                mux.items.emplace_back(name);
            }
            mux.singleSelect = true;
            m_enum = e;
            return mux;
        }
        // No source choice: every capture switch is an input that can be on with the others.
        Multiplexer mux;
        mux.singleSelect = false;
        m_switches.clear();
        for (snd_mixer_elem_t* e = first(); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_has_capture_switch(e)) {
                mux.items.emplace_back(snd_mixer_selem_get_name(e));
                m_switches.push_back(e);
            }
        if (mux.items.empty())
            return std::nullopt;
        return mux;
    }

    bool volume(const Line& line, bool capture, int channel, uint32_t& level) override {
        snd_mixer_elem_t* e = find(line);
        if (!e)
            return false;
        long min = 0, max = 0, value = 0;
        const int r = capture ? snd_mixer_selem_get_capture_volume_range(e, &min, &max)
                              : snd_mixer_selem_get_playback_volume_range(e, &min, &max);
        if (r < 0 || max <= min)
            return false;
        const int g = capture ? snd_mixer_selem_get_capture_volume(e, channelId(channel), &value)
                              : snd_mixer_selem_get_playback_volume(e, channelId(channel), &value);
        if (g < 0)
            return false;
        level = static_cast<uint32_t>((value - min) * 65535 / (max - min));
        return true;
    }

    bool setVolume(const Line& line, bool capture, int channel, uint32_t level) override {
        snd_mixer_elem_t* e = find(line);
        if (!e)
            return false;
        long min = 0, max = 0;
        const int r = capture ? snd_mixer_selem_get_capture_volume_range(e, &min, &max)
                              : snd_mixer_selem_get_playback_volume_range(e, &min, &max);
        if (r < 0 || max <= min)
            return false;
        const long value = min + static_cast<long>(static_cast<uint64_t>(level) * (max - min) / 65535);
        return (capture ? snd_mixer_selem_set_capture_volume(e, channelId(channel), value)
                        : snd_mixer_selem_set_playback_volume(e, channelId(channel), value)) >= 0;
    }

    bool muted(const Line& line, bool& mute) override {
        snd_mixer_elem_t* e = find(line);
        if (!e || !snd_mixer_selem_has_playback_switch(e))
            return false;
        int on = 1;
        if (snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
            return false;
        mute = !on;
        return true;
    }

    bool itemSelected(int item, bool& selected) override {
        if (m_enum) {
            unsigned current = 0;
            if (snd_mixer_selem_get_enum_item(m_enum, SND_MIXER_SCHN_FRONT_LEFT, &current) < 0)
                return false;
            selected = static_cast<int>(current) == item;
            return true;
        }
        if (item < 0 || item >= static_cast<int>(m_switches.size()))
            return false;
        int on = 0;
        if (snd_mixer_selem_get_capture_switch(m_switches[static_cast<size_t>(item)],
                                               SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
            return false;
        selected = on != 0;
        return true;
    }

    bool selectItem(int item, bool selected) override {
        if (m_enum) {
            if (!selected)
                return true; // choosing one item is what clears the others
            return snd_mixer_selem_set_enum_item(m_enum, SND_MIXER_SCHN_FRONT_LEFT,
                                                 static_cast<unsigned>(item)) >= 0;
        }
        if (item < 0 || item >= static_cast<int>(m_switches.size()))
            return false;
        return snd_mixer_selem_set_capture_switch_all(m_switches[static_cast<size_t>(item)],
                                                      selected ? 1 : 0) >= 0;
    }

private:
    snd_mixer_elem_t* first() { return m_mixer ? snd_mixer_first_elem(m_mixer) : nullptr; }
    // By name and index: a card may have several lines of one name.
    snd_mixer_elem_t* find(const std::string& name, int index = 0) {
        for (snd_mixer_elem_t* e = first(); e; e = snd_mixer_elem_next(e))
            if (name == snd_mixer_selem_get_name(e) &&
                static_cast<int>(snd_mixer_selem_get_index(e)) == index)
                return e;
        return nullptr;
    }
    snd_mixer_elem_t* find(const Line& line) { return find(line.name, line.index); }

    snd_mixer_t* m_mixer = nullptr;
    snd_mixer_elem_t* m_enum = nullptr;
    std::vector<snd_mixer_elem_t*> m_switches;
};

} // namespace

std::unique_ptr<MixerBackend> makeAlsaMixerBackend() {
    return std::make_unique<AlsaMixerBackend>();
}

} // namespace gardivo
