// The recording mixer on the simulated mixer: device choice, source selection,
// volumes and the device layer's failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "capture_route.h"
#include "mixer_sim.h"
#include "rud_mixer.h"
#include "test_support.h"

namespace {

// Runs a test on the cards of `description` (empty: the built-in card).
class SimMixer {
public:
    explicit SimMixer(const std::string& description = "")
        : m_mixer("VORUR_MIXER", "sim"),
          m_file("VORUR_MIXER_SIM", description.empty() ? "" : m_dir.file("cards.txt")) {
        if (!description.empty())
            testsupport::WriteFile(m_dir.file("cards.txt"), description);
        ResetMixerSystemForTesting();
        ReleaseWaveInDevices();
        ResetSimMixer();
        ClearSimMixerLog();
    }
    ~SimMixer() { ReleaseWaveInDevices(); }
    const testsupport::TempDir& dir() const { return m_dir; }

private:
    testsupport::TempDir m_dir;
    testsupport::ScopedEnv m_mixer;
    testsupport::ScopedEnv m_file;
};

std::vector<std::string> LogOf(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : SimMixerLog())
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

std::string Card(const std::string& name, const std::string& lines, const std::string& extra = "") {
    return "[device]\nname = " + name + "\n" + extra + lines;
}

std::string Line(const std::string& name, const std::string& type, const std::string& extra = "") {
    return "[line]\nname = " + name + "\ntype = " + type + "\nchannels = 2\nvolume = 0 65535 32768\nmute = 0\n" + extra;
}

const std::string kNoCard = "CRudMixer::CheckDevice : 녹음이 가능한 사운드 카드가 없습니다.";
const std::string kCannotRecord = "녹음이 불가능한 사운드 카드입니다.";
const std::string kSelectNoCard = "CRudMixer::SelectRecordMixer : 녹음이 가능한 사운드 카드가 없습니다.";
const std::string kNoSourceLine = "현재 사운드 장치로는 녹음 하실 수 없습니다.";

}  // namespace

TEST(RudMixerCheckDevice, PrefersAWaveOutOrAnalogLineOverAnEarlierMicrophoneOnlyCard) {
    SimMixer sim(Card("Mic Card", Line("Mic", "microphone")) + Card("Analog Card", Line("Line", "analog")) +
                 Card("Loopback Card", Line("Mic", "microphone") + Line("What U Hear", "waveout")));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_nDeviceIndex, 1);
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_ANALOG);
    EXPECT_TRUE(mixer.m_strError.empty());
}

TEST(RudMixerCheckDevice, FallsBackToTheFirstMicrophoneWithNoSourceTypeUntilTheSpeakerIsSelected) {
    SimMixer sim(Card("Broken", Line("Mic", "microphone"), "open = 0\n") + Card("Mic A", Line("Mic", "microphone")) +
                 Card("Mic B", Line("Mic", "microphone")));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice()) << "a card whose mixer cannot open is passed over";
    EXPECT_EQ(mixer.m_nDeviceIndex, 1);
    EXPECT_EQ(mixer.m_dwSourceType, 0u);
    EXPECT_EQ(mixer.GetSourceVolume(), 0);
    EXPECT_FALSE(mixer.SetSourceVolume(50));

    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_TRUE(mixer.SetSourceVolume(50));
    EXPECT_EQ(mixer.GetSourceVolume(), 49);  // 32767 of 65535, truncated
    EXPECT_EQ(LastWaveInDeviceError(), "Can't open Mixer Device.");
}

TEST(RudMixerCheckDevice, FailsWithTheTextForNoCardOrNoUsableLine) {
    {
        SimMixer sim(Card("Mono Only", Line("Mic", "microphone"), "formats = 0x400\n"));
        CRudMixer mixer;
        EXPECT_FALSE(mixer.CheckDevice());
        EXPECT_EQ(mixer.m_strError, kNoCard);
    }
    {
        SimMixer sim(Card("Synth", Line("FM", "synthesizer")) + Card("Dead", Line("Mic", "microphone"), "open = 0\n"));
        CRudMixer mixer;
        EXPECT_FALSE(mixer.CheckDevice());
        EXPECT_EQ(mixer.m_strError, kCannotRecord);
        // The selection then has no line to use either, and says so.
        EXPECT_FALSE(mixer.SelectRecordMixer(1));
        EXPECT_EQ(mixer.m_strError, kNoSourceLine);
        mixer.m_nDeviceIndex = 5;
        EXPECT_FALSE(mixer.SelectRecordMixer(1));
        EXPECT_EQ(mixer.m_strError, kSelectNoCard);
        EXPECT_EQ(mixer.GetMicVolume(), 0);
        EXPECT_FALSE(mixer.UnmuteMic());
    }
}

TEST(RudMixerSelect, OnAMuxTheChosenSourceSwitchesTheOthersOffAndTheMixerCloses) {
    SimMixer sim;  // built in: Microphone, Line In, Stereo Mix on a MUX
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    ClearSimMixerLog();

    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    std::vector<std::string> expected = {"mute|Sim Audio|Stereo Mix|0",
                                         "select|Sim Audio|Microphone=0,Line In=0,Stereo Mix=1", "close|Sim Audio"};
    EXPECT_EQ(SimMixerLog(), expected);
    EXPECT_TRUE(GetCaptureRoute().mixPlayback) << "the capture adds what the player plays";
    EXPECT_EQ(GetCaptureRoute().server, CaptureServer::Sdl);

    ClearSimMixerLog();
    ASSERT_TRUE(mixer.SelectRecordMixer(0));
    // The microphone is selected again but not unmuted here.
    expected = {"open|Sim Audio", "select|Sim Audio|Microphone=1,Line In=0,Stereo Mix=0", "close|Sim Audio"};
    EXPECT_EQ(SimMixerLog(), expected);
    EXPECT_FALSE(GetCaptureRoute().mixPlayback);
}

TEST(RudMixerSelect, OnAMultipleSelectorTheOtherSourcesKeepTheirState) {
    SimMixer sim(Card("Multi",
                      Line("Mic", "microphone", "selected = 1\n") + Line("Line", "analog", "selected = 1\n") +
                          Line("Mix", "waveout"),
                      "selector = multiple\n"));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(LogOf("select"), std::vector<std::string>{"select|Multi|Mic=1,Line=1,Mix=1"});
    ClearSimMixerLog();
    ASSERT_TRUE(mixer.SelectRecordMixer(0));
    EXPECT_EQ(LogOf("select"), std::vector<std::string>{"select|Multi|Mic=1,Line=1,Mix=1"});
}

TEST(RudMixerSelect, ASelectorWithAValuePerChannelGetsTheSameChoiceOnEveryChannel) {
    SimMixer sim(Card("Split", Line("Mic", "microphone", "selected = 1\n") + Line("Mix", "waveout"),
                      "selector = single\nuniform = 0\nchannels = 2\n"));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(LogOf("select"), std::vector<std::string>{"select|Split|Mic=0/0,Mix=1/1"});
}

TEST(RudMixerSelect, SpeakerFallsBackToAnalogThenMicrophone) {
    SimMixer sim(Card("Analog", Line("Mic", "microphone") + Line("Aux", "analog")) +
                 Card("MicOnly", Line("Mic", "microphone")));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_ANALOG);
    EXPECT_EQ(LogOf("select"), std::vector<std::string>{"select|Analog|Mic=0,Aux=1"});

    mixer.m_nDeviceIndex = 1;
    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
}

TEST(RudMixerVolume, PercentagesMapOntoTheControlsRange) {
    SimMixer sim(Card("Card", Line("Mic", "microphone", "volume = 1000 2000 1500\nchannels = 1\n") +
                                  Line("Mix", "waveout", "volume = 0 65535 0\n")));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());

    EXPECT_TRUE(mixer.SetSourceVolume(0));
    EXPECT_EQ(LogOf("volume").back(), "volume|Card|Mix|0/0");
    EXPECT_EQ(mixer.GetSourceVolume(), 0);
    EXPECT_TRUE(mixer.SetSourceVolume(100));
    EXPECT_EQ(LogOf("volume").back(), "volume|Card|Mix|65535/65535");
    EXPECT_EQ(mixer.GetSourceVolume(), 100);
    EXPECT_TRUE(mixer.SetSourceVolume(150));
    EXPECT_EQ(LogOf("volume").back(), "volume|Card|Mix|65535/65535") << "above 100 counts as 100";
    EXPECT_TRUE(mixer.SetSourceVolume(-20));
    EXPECT_EQ(LogOf("volume").back(), "volume|Card|Mix|0/0");

    EXPECT_EQ(mixer.GetMicVolume(), 50);
    EXPECT_TRUE(mixer.SetMicVolume(30));
    EXPECT_EQ(LogOf("volume").back(), "volume|Card|Mic|1300");
    EXPECT_EQ(mixer.GetMicVolume(), 30);
    SimLineState state;
    ASSERT_TRUE(GetSimLineState("Card", "Mic", state));
    EXPECT_EQ(state.volume, std::vector<DWORD>{1300});
}

TEST(RudMixerVolume, MicrophoneOperationsNeedTheirControls) {
    SimMixer sim(Card("Bare", Line("Mic", "microphone", "volume = none\nmute = none\n") + Line("Mix", "waveout")) +
                 Card("Flat", Line("Mic", "microphone", "volume = 500 500 500\n")));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ClearSimMixerLog();
    EXPECT_FALSE(mixer.UnmuteMic());
    EXPECT_FALSE(mixer.SetMicVolume(40));
    EXPECT_EQ(mixer.GetMicVolume(), -1);
    EXPECT_TRUE(LogOf("volume").empty());
    EXPECT_TRUE(LogOf("mute").empty());

    // A control whose range is empty reads 0 instead of dividing by zero.
    mixer.m_nDeviceIndex = 1;
    EXPECT_EQ(mixer.GetMicVolume(), 0);
    EXPECT_TRUE(mixer.UnmuteMic());
    EXPECT_EQ(LogOf("mute").back(), "mute|Flat|Mic|0");
}

TEST(RudMixerDevices, SameNamedCardsResolveToTheFirstAndReleaseRebuildsTheList) {
    SimMixer sim(Card("Twin", Line("Mic", "microphone")) + Card("Twin", Line("Mix", "waveout")));
    auto& devices = GetWaveInDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(FindWaveInDevice("Twin"), devices[0].get());
    std::string error;
    EXPECT_EQ(FindWaveInDevice("Nobody", &error), nullptr);
    EXPECT_EQ(error, "Device not found.");

    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    EXPECT_EQ(mixer.m_nDeviceIndex, 1);
    // Reaching device 1 by its name lands on device 0, which has no wave-out line.
    EXPECT_EQ(mixer.GetSourceVolume(), 0);
    EXPECT_TRUE(mixer.SelectRecordMixer(1));
    EXPECT_EQ(mixer.m_dwSourceType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);

    // The check left the second card's mixer open; the selection closed the first.
    ClearSimMixerLog();
    ReleaseWaveInDevices();
    EXPECT_EQ(LogOf("close"), std::vector<std::string>{"close|Twin"});
    EXPECT_EQ(GetWaveInDevices().size(), 2u);
}

TEST(RudMixerDevices, LongNamesAreCutToThirtyOneCharacters) {
    SimMixer sim(Card("A card with a very long name indeed, longer than most", Line("Mic", "microphone")));
    ASSERT_EQ(GetWaveInDevices().size(), 1u);
    EXPECT_EQ(GetWaveInDevices()[0]->m_caps.szPname, "A card with a very long name in");
    CRudMixer mixer;
    EXPECT_TRUE(mixer.CheckDevice());
    EXPECT_TRUE(mixer.UnmuteMic());
}

TEST(RudMixerLog, IsAppendedToTheFileNamedInTheEnvironment) {
    SimMixer sim;
    testsupport::ScopedEnv log("VORUR_MIXER_LOG", sim.dir().file("mixer.log"));
    CRudMixer mixer;
    ASSERT_TRUE(mixer.CheckDevice());
    ASSERT_TRUE(mixer.UnmuteMic());
    ASSERT_TRUE(mixer.SelectRecordMixer(1));
    std::string text = testsupport::ReadFile(sim.dir().file("mixer.log"));
    EXPECT_EQ(text,
              "open|Sim Audio\nmute|Sim Audio|Microphone|0\nmute|Sim Audio|Stereo Mix|0\n"
              "select|Sim Audio|Microphone=0,Line In=0,Stereo Mix=1\nclose|Sim Audio\n");
}
