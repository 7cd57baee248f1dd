// Input routes, standards and colour controls on a V4L2 device of the tests' own, and the mixer
// rules on a mixer of the tests' own.

#include "CaptureTestKit.h"
#include "platform/tests/OrdinaryUser.h"

#include "monitor/capture/AudioMixer.h"
#include "monitor/capture/VideoInputControls.h"

#include <cerrno>
#include <grp.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

// A capture card with a tuner, a composite and an S-Video input; hue is missing. Selecting an
// input can be made to fail with EBUSY, as it does while the card streams.
struct FakeCard {
    std::vector<VideoInputInfo> inputs = {
        {0, "Television", true}, {1, "Composite1", false}, {2, "S-Video", false}};
    uint32_t current = 1;
    int busyAnswers = 0;
    bool decoder = true;
    std::vector<uint64_t> standards;
    std::map<int, int32_t> values;
    std::vector<uint32_t> selected;
};

class FakeDevice final : public VideoDeviceIo {
public:
    explicit FakeDevice(FakeCard& card) : m_card(card) {}
    std::string driver() const override { return "bttv"; }
    std::vector<VideoInputInfo> inputs() override { return m_card.inputs; }
    bool selectInput(uint32_t index, int& error) override {
        if (m_card.busyAnswers > 0) {
            --m_card.busyAnswers;
            error = EBUSY;
            return false;
        }
        m_card.current = index;
        m_card.selected.push_back(index);
        return true;
    }
    std::optional<uint32_t> currentInput() override { return m_card.current; }
    bool hasStandards() override { return m_card.decoder; }
    bool setStandard(uint64_t standard, int& error) override {
        if (m_card.busyAnswers > 0) {
            --m_card.busyAnswers;
            error = EBUSY;
            return false;
        }
        m_card.standards.push_back(standard);
        return true;
    }
    VideoControlRange queryControl(Control c) override {
        switch (c) {
        case Brightness:
            return {true, 0, 255, 1, 128};
        case Contrast:
            return {true, 0, 127, 1, 64};
        case Saturation:
            return {true, 0, 200, 2, 100};
        case Hue:
            break;
        }
        return {};
    }
    bool setControl(Control c, int32_t value) override {
        m_card.values[c] = value;
        return true;
    }

private:
    FakeCard& m_card;
};

class DeviceControls : public CaptureFixture {
protected:
    CaptureSession& openCard() {
        auto& s = session("", [this](const std::string& path) -> std::unique_ptr<VideoDeviceIo> {
            return path == "/dev/video9" ? std::make_unique<FakeDevice>(m_card) : nullptr;
        });
        s.catalog().setDeviceProvider([](const char* deviceClass) {
            std::vector<CaptureSource> list;
            if (std::string(deviceClass) == "Video/Source") {
                CaptureSource card;
                card.name = "Capture card";
                card.description = "videotestsrc is-live=true";
                card.devicePath = "/dev/video9";
                list.push_back(card);
            }
            return list;
        });
        EXPECT_TRUE(s.OpenCapture());
        return s;
    }
    std::vector<std::string> scripts() const {
        std::vector<std::string> found;
        for (const auto& line : m_sink.log)
            if (line.rfind("ControlPanel script ", 0) == 0)
                found.push_back(line.substr(20));
        return found;
    }
    FakeCard m_card;
};

TEST_F(DeviceControls, InputsBecomeConnectorsAndTheStoredOneIsRouted) {
    auto& s = openCard();
    // The tuner can be routed but is not listed.
    EXPECT_EQ(s.connectorNames(), (std::vector<std::string>{"Composite", "SVideo"}));
    EXPECT_TRUE(s.hasSeveralConnectors());
    const auto key = SettingsStore::kVideoConnectorsKey;
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "Source0")->text(), "Composite");
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "Source1")->text(), "SVideo");
    EXPECT_FALSE(m_registry.queryValue(RegistryRoot::CurrentUser, key, "Source2"));
    // The stored connector ("Composite") was applied and told to the page.
    EXPECT_EQ(m_card.selected, std::vector<uint32_t>{1});
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"Composite\")");
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "Current")->text(), "Composite");

    // A menu choice in any letter case; a name the card does not have changes nothing.
    s.SelectVideoSource("svideo");
    EXPECT_EQ(m_card.current, 2u);
    EXPECT_EQ(fieldText(m_store->settings().VideoConnector), "SVideo");
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"SVideo\")");
    s.SelectVideoSource("TV Tuner");
    EXPECT_EQ(m_card.current, 0u);
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"TV Tuner\")");
    s.SelectVideoSource("Video 1394");
    EXPECT_EQ(m_card.current, 0u);
    EXPECT_EQ(fieldText(m_store->settings().VideoConnector), "Video 1394");

    // While the card streams it refuses to switch: the stream stops for a moment.
    m_card.busyAnswers = 1;
    EXPECT_TRUE(s.SelectComposite());
    EXPECT_EQ(m_card.current, 1u);
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_TRUE(m_reporter.messages().empty());

    // A name with a quote reaches the page as text, never as script.
    s.ReportVideoSource("x\",\"y\");alert(1);(\"");
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"x\\\",\\\"y\\\");alert(1);(\\\"\")");
}

TEST_F(DeviceControls, EachInputOfAFourInputCardIsItsOwnEntry) {
    m_card.inputs = {{0, "Composite0", false},
                     {1, "Composite1", false},
                     {2, "Composite2", false},
                     {3, "Composite3", false}};
    m_card.current = 0;
    setFieldText(m_store->settings().VideoConnector, "Composite2");
    auto& s = openCard();
    EXPECT_EQ(s.connectorNames(),
              (std::vector<std::string>{"Composite0", "Composite1", "Composite2", "Composite3"}));
    const auto key = SettingsStore::kVideoConnectorsKey;
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "Source3")->text(), "Composite3");
    // The stored input is the one routed, not the first of its kind.
    EXPECT_EQ(m_card.current, 2u);
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"Composite2\")");
    s.SelectVideoSource("composite3");
    EXPECT_EQ(m_card.current, 3u);
    EXPECT_EQ(fieldText(m_store->settings().VideoConnector), "composite3");
    // "Composite" from an older setting still means the first composite input.
    EXPECT_TRUE(s.SelectComposite());
    EXPECT_EQ(m_card.current, 0u);
}

TEST_F(DeviceControls, InputsOfOneNameAreNumbered) {
    m_card.inputs = {{0, "Composite", false}, {1, "Composite", false}, {2, "S-Video", false}};
    auto& s = openCard();
    EXPECT_EQ(s.connectorNames(), (std::vector<std::string>{"Composite 0", "Composite 1", "SVideo"}));
    s.SelectVideoSource("Composite 1");
    EXPECT_EQ(m_card.current, 1u);
}

TEST_F(DeviceControls, TheCardsDefaultsBecomeTheColoursAndTheirRangesAreWritten) {
    m_store->settings().Brightness = 7;
    openCard();
    const auto& s = m_store->settings();
    EXPECT_EQ(s.Brightness, 128);
    EXPECT_EQ(s.Contrast, 64);
    EXPECT_EQ(s.Saturation, 100);
    EXPECT_EQ(s.Hue, 0); // no hue control: a zero range and nothing set
    EXPECT_EQ(m_card.values[VideoDeviceIo::Brightness], 128);
    EXPECT_EQ(m_card.values.count(VideoDeviceIo::Hue), 0u);
    EXPECT_EQ(m_store->readProcAmpRange("Brightness"), (ProcAmpRange{0, 128, 0, 255, 1}));
    EXPECT_EQ(m_store->readProcAmpRange("Saturation"), (ProcAmpRange{0, 100, 0, 200, 2}));
    EXPECT_EQ(m_store->readProcAmpRange("Hue"), (ProcAmpRange{0, 0, 0, 0, 0}));

    EXPECT_TRUE(m_session->SetProcAmp(1003, 77));
    EXPECT_EQ(m_card.values[VideoDeviceIo::Saturation], 77);
    EXPECT_TRUE(m_session->SetProcAmp(1001, 9));
    EXPECT_EQ(m_card.values[VideoDeviceIo::Brightness], 9);
    EXPECT_FALSE(m_session->SetProcAmp(1004, 5)); // hue
    EXPECT_FALSE(m_session->SetProcAmp(1009, 5));
}

TEST_F(DeviceControls, StandardsMapByTheirIndex) {
    auto& s = openCard();
    m_card.standards.clear();
    for (int index : {2, 6, 0, 13, -1, 12})
        EXPECT_TRUE(s.SetVideoStandard(index)) << index;
    EXPECT_EQ(m_card.standards, (std::vector<uint64_t>{V4L2_STD_PAL_N, V4L2_STD_PAL_N, V4L2_STD_NTSC_M,
                                                       V4L2_STD_NTSC_M, V4L2_STD_NTSC_M, V4L2_STD_SECAM_K1}));
    EXPECT_EQ(m_store->settings().VideoStandard, 12);
    EXPECT_EQ(scripts().back(), "DescChange(\"standard\",\"SECAM K1\")");
    EXPECT_EQ(standards::name(6), "PAL N");
    EXPECT_EQ(standards::name(13), "NTSC M");

    // A camera without an analog decoder has no standard to set, and says nothing.
    m_card.decoder = false;
    m_session.reset();
    auto& webcam = openCard();
    EXPECT_FALSE(webcam.SetVideoStandard(4));
    EXPECT_TRUE(m_reporter.messages().empty());
}

TEST_F(DeviceControls, ASourceWithoutInputsHasNoOtherVideoSources) {
    auto& s = session("Pattern|videotestsrc is-live=true\n");
    ASSERT_TRUE(s.OpenCapture());
    EXPECT_EQ(s.videoSettings(), nullptr);
    EXPECT_TRUE(s.connectorNames().empty());
    EXPECT_EQ(scripts().back(), "DescChange(\"videosource\",\"\")");
    EXPECT_FALSE(s.RouteConnector(2));
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"There're no other video sources!"});
    EXPECT_FALSE(s.SetProcAmp(1001, 3));
}

TEST(Connectors, NamesAndTypesBothWays) {
    EXPECT_EQ(connectors::name(1), "TV Tuner");
    EXPECT_EQ(connectors::name(3), "SVideo");
    EXPECT_EQ(connectors::name(4105), "Audio Decoder");
    EXPECT_EQ(connectors::name(14), "Unknown");
    EXPECT_EQ(connectors::name(12, 6), "Video");
    EXPECT_EQ(connectors::type("Video USB"), 11);
    EXPECT_EQ(connectors::type("Unknown"), 0);
    EXPECT_EQ(connectors::type("svideo"), 0); // the table is exact
    EXPECT_EQ(connectors::typeOfInput({0, "Composite 2", false}, "saa7134"), 2);
    EXPECT_EQ(connectors::typeOfInput({0, "S-Video", false}, "saa7134"), 3);
    EXPECT_EQ(connectors::typeOfInput({0, "Camera 1", false}, "uvcvideo"), 11);
    EXPECT_EQ(connectors::typeOfInput({0, "Antenna", true}, "bttv"), 1);
}

// A mixer of the tests' own: lines with levels of 0..65535, a multiplexer, and a log of what
// was set.
class FakeMixer final : public MixerBackend {
public:
    int devices = 1;
    std::vector<Line> playback = {{"Master", 2}, {"PCM", 2}, {"Line", 2}, {"CD", 2}};
    std::vector<Line> capture = {{"Mic", 1}, {"Line", 2}, {"CD", 2}};
    std::optional<Multiplexer> mux = Multiplexer{{"CD", "Mic", "Line"}, true};
    std::map<std::string, uint32_t> levels = {{"Line", 40000}, {"CD", 20000}, {"Mic", 1000}};
    std::vector<bool> items = {false, true, false};
    std::vector<std::string> log;

    int deviceCount() override { return devices; }
    bool open() override { return true; }
    std::vector<Line> playbackLines() override { return playback; }
    std::vector<Line> captureLines() override { return capture; }
    std::optional<Line> masterLine() override { return Line{"Master", 2}; }
    std::optional<Multiplexer> captureMultiplexer() override { return mux; }
    static std::string nameOf(const Line& line) {
        return line.index == 0 ? line.name : line.name + "," + std::to_string(line.index);
    }
    bool volume(const Line& line, bool capture, int channel, uint32_t& level) override {
        level = levels[nameOf(line)] + (capture ? 1 : 0) + static_cast<uint32_t>(channel) * 10;
        return true;
    }
    bool setVolume(const Line& line, bool capture, int channel, uint32_t level) override {
        log.push_back((capture ? "capture " : "playback ") + nameOf(line) + " " + std::to_string(channel) +
                      " = " + std::to_string(level));
        return true;
    }
    bool muted(const Line&, bool& mute) override {
        mute = false;
        return true;
    }
    bool itemSelected(int item, bool& selected) override {
        selected = items[static_cast<size_t>(item)];
        return true;
    }
    bool selectItem(int item, bool selected) override {
        items[static_cast<size_t>(item)] = selected;
        return true;
    }
};

TEST(Mixer, TheRecordingLineIsChosenAtThePlaybackLevel) {
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    MixerController c(std::move(backend));
    ASSERT_TRUE(c.Init());
    EXPECT_EQ(c.speakersDestination(), 0);
    EXPECT_EQ(c.waveInDestination(), 1);
    EXPECT_TRUE(c.hasMaster());
    EXPECT_EQ(c.playbackSourceNames(), (std::vector<std::string>{"Master", "PCM", "Line", "CD"}));
    // Sources find their multiplexer items by name, whatever the order.
    EXPECT_EQ(c.sourceToItem(), (std::vector<int>{1, 2, 0}));

    ASSERT_TRUE(c.SelectPlaybackSource(2)); // Line
    EXPECT_EQ(c.playbackVolume(), 40000u);
    ASSERT_TRUE(c.SelectRecordingSource(1)); // Line
    EXPECT_EQ(c.recordingVolume(), 40000u);
    EXPECT_EQ(mixer.log, (std::vector<std::string>{"capture Line 0 = 40000", "capture Line 1 = 40000"}));
    EXPECT_EQ(mixer.items, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(c.recordingItemSelected());

    // Indexes equal to the number of sources are refused.
    EXPECT_FALSE(c.SelectPlaybackSource(4));
    EXPECT_FALSE(c.SelectRecordingSource(3));
    EXPECT_FALSE(c.SelectRecordingSource(-1));

    // A balance to the right turns the first channel down.
    mixer.log.clear();
    c.setBalance(0.5);
    ASSERT_TRUE(c.SelectPlaybackSource(3)); // CD, read on its second channel
    EXPECT_EQ(c.playbackVolume(), 20010u);
    ASSERT_TRUE(c.SelectRecordingSource(2));
    EXPECT_EQ(mixer.log, (std::vector<std::string>{"capture CD 0 = 10005", "capture CD 1 = 20010"}));
}

TEST(Mixer, LinesOfOneNameAreToldApartByTheirIndex) {
    // Cards with two recording inputs often call both 'Capture' (0 and 1), each with a switch.
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    mixer.capture = {{"Capture", 2, 0}, {"Capture", 2, 1}};
    mixer.mux = MixerBackend::Multiplexer{{"Capture", "Capture"}, false};
    mixer.items = {false, false};
    mixer.levels["Capture,1"] = 30000;
    MixerController c(std::move(backend));
    ASSERT_TRUE(c.Init());
    EXPECT_EQ(c.sourceToItem(), (std::vector<int>{0, 1}));
    ASSERT_TRUE(c.SelectPlaybackSource(2)); // Line, at 40000
    ASSERT_TRUE(c.SelectRecordingSource(1));
    EXPECT_EQ(c.recordingVolume(), 40000u);
    EXPECT_EQ(mixer.log,
              (std::vector<std::string>{"capture Capture,1 0 = 40000", "capture Capture,1 1 = 40000"}));
    EXPECT_EQ(mixer.items, (std::vector<bool>{false, true}));
}

TEST(Mixer, WithoutAChosenPlaybackLineTheRecordingLevelIsLeftAlone) {
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    MixerController c(std::move(backend));
    ASSERT_TRUE(c.Init());
    EXPECT_FALSE(c.SelectPlaybackSource(9));
    ASSERT_TRUE(c.SelectRecordingSource(1));
    EXPECT_TRUE(mixer.log.empty()) << ::testing::PrintToString(mixer.log);
    EXPECT_EQ(c.recordingVolume(), 40001u); // as the card has it
}

TEST_F(CaptureFixture, TheSoundCardIsLeftAloneUnlessClipsAreToHaveSound) {
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    const auto itemsBefore = mixer.items;
    m_store->settings().RecordAudio = 0;
    m_store->settings().MixerIndexA = 1;
    m_store->settings().MixerIndexB = 2;
    auto& s = session(
        "Still|videotestsrc is-live=true\n", [](const std::string&) { return nullptr; }, std::move(backend));
    ASSERT_TRUE(s.OpenCapture());
    s.ApplySettings(); // as after the wizard's OK or Cancel
    EXPECT_TRUE(mixer.log.empty()) << ::testing::PrintToString(mixer.log);
    EXPECT_EQ(mixer.items, itemsBefore);
    // With sound in the clips, the named lines are set.
    m_store->settings().RecordAudio = 1;
    s.ApplySettings();
    EXPECT_EQ(mixer.log, (std::vector<std::string>{"capture Line 0 = 40000", "capture Line 1 = 40000"}));
    EXPECT_EQ(mixer.items, (std::vector<bool>{false, false, true}));
}

TEST(Mixer, ChoosingAnInputOfSeveralNeverTurnsItOff) {
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    mixer.mux = MixerBackend::Multiplexer{{"Mic", "Line", "CD"}, false};
    mixer.items = {true, false, false};
    MixerController c(std::move(backend));
    ASSERT_TRUE(c.Init());
    ASSERT_TRUE(c.SelectRecordingSource(0)); // Mic, already on
    EXPECT_EQ(mixer.items, (std::vector<bool>{true, false, false}));
    ASSERT_TRUE(c.SelectRecordingSource(0));
    EXPECT_EQ(mixer.items, (std::vector<bool>{true, false, false}));
    ASSERT_TRUE(c.SelectRecordingSource(2));
    EXPECT_EQ(mixer.items, (std::vector<bool>{true, false, true}));
}

TEST(Mixer, WithoutAMultiplexerOrACardLittleOrNothingIsDone) {
    auto backend = std::make_unique<FakeMixer>();
    FakeMixer& mixer = *backend;
    mixer.mux.reset();
    MixerController c(std::move(backend));
    ASSERT_TRUE(c.Init());
    EXPECT_FALSE(c.hasMaster()); // the enumeration stopped at the recording input
    ASSERT_TRUE(c.SelectRecordingSource(0));
    EXPECT_EQ(c.recordingVolume(), 1001u);
    EXPECT_FALSE(c.recordingItemSelected());
    EXPECT_TRUE(mixer.log.empty());

    auto none = std::make_unique<FakeMixer>();
    none->devices = 0;
    MixerController noCard(std::move(none));
    EXPECT_FALSE(noCard.Init());
    EXPECT_FALSE(noCard.SelectPlaybackSource(0));
}

} // namespace

namespace {

TEST(LockedCameras, ACameraThisAccountMayNotOpenIsNamedWithTheGroupThatMay) {
    TempDir dev;
    for (const char* node : {"video0", "video1", "video", "videoX", "vbi0"})
        writeText(dev.file(node), "");
    const group* video = ::getgrnam("video");
    const gid_t videoGid = video ? video->gr_gid : 0;
    const std::string groupName = video ? "video" : "root";
    ASSERT_EQ(::chown(dev.file("video0").c_str(), 0, videoGid), 0);
    ::chmod(dev.file("video0").c_str(), 0660);
    ::chmod(dev.file("video1").c_str(), 0666);
    ::chmod(dev.file("videoX").c_str(), 0600);
    ::chmod(dev.path().c_str(), 0755);
    // Looked at as an ordinary account.
    const std::string said = asOrdinaryUser([&] {
        std::string out;
        for (const auto& camera : SourceCatalog::lockedCameras(dev.path()))
            out += camera.node + " " + camera.group + "\n";
        return out;
    });
    if (::geteuid() != 0 && ::getgid() == videoGid)
        GTEST_SKIP() << "this account is in the group itself";
    EXPECT_EQ(said, dev.file("video0") + " " + groupName + "\n");
}

} // namespace
