// Records from the recording device the player would use into an MP3 file,
// through the player's recording classes, printing the input level; with
// --speaker, the playback mix: the microphone with what --play plays. Also lists
// the recording mixer's devices and lines and sets the microphone volume.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "capture_route.h"
#include "codec_binding.h"
#include "diagnostics.h"
#include "mp3_recorder.h"
#include "rud_mixer.h"
#include "sound_output.h"

namespace {

std::atomic<bool> g_interrupted{false};

// Level messages land here from the capture thread; the main thread prints them.
class ConsoleTarget : public IMessageTarget {
public:
    bool IsWindow() const override { return true; }
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM) override {
        if (msg == WM_RECORD_LEVEL) {
            m_level = wParam;
            ++m_count;
        }
        return true;
    }
    WPARAM level() const { return m_level; }
    unsigned count() const { return m_count; }

private:
    std::atomic<WPARAM> m_level{0};
    std::atomic<unsigned> m_count{0};
};

const char* TypeName(DWORD type) {
    switch (type) {
    case MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE: return "microphone";
    case MIXERLINE_COMPONENTTYPE_SRC_ANALOG: return "analog";
    case MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT: return "wave-out";
    default: return "other";
    }
}

void Usage() {
    std::printf(
        "usage: vorur-rec [options]\n"
        "  -o FILE            record into FILE (default recording.mp3)\n"
        "  -t SECONDS         record for SECONDS (default 10; Ctrl+C ends earlier)\n"
        "  --speaker          record the playback mix, as with the SpeakerRec setting:\n"
        "                     the microphone with what this program plays\n"
        "  --play FILE        play a sound file (WAV, MP3, OGG) while recording\n"
        "  --source-volume N  how loud the played sound is in the playback mix (0..100)\n"
        "  --list             list the recording devices and their source lines\n"
        "  --mic-volume N     set the microphone volume (0..100) and exit\n"
        "  -h, --help         print this summary and exit\n");
}

int List(CRudMixer& mixer) {
    auto& devices = GetWaveInDevices();
    std::printf("%zu recording device(s)\n", devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        WaveInDevice& device = *devices[i];
        std::printf("[%zu] %s\n", i, device.m_caps.szPname.c_str());
        if (!device.m_mixer.Open()) {
            std::printf("    (mixer cannot be opened)\n");
            continue;
        }
        for (const auto& line : device.m_mixer.Lines())
            std::printf("    %-10s %s\n", TypeName(line->m_line.dwComponentType), line->m_line.szName.c_str());
    }
    if (mixer.CheckDevice())
        std::printf("chosen: device %d, source type 0x%X\nmicrophone volume %d, source volume %d\n",
                    mixer.m_nDeviceIndex, mixer.m_dwSourceType, mixer.GetMicVolume(), mixer.GetSourceVolume());
    else
        std::printf("no usable device: %s\n", mixer.m_strError.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardFiles();
    std::string output = "recording.mp3";
    double seconds = 10;
    bool speaker = false, list = false;
    std::string play;
    int micVolume = -1, sourceVolume = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "-o")
            output = next();
        else if (arg == "-t")
            seconds = std::atof(next());
        else if (arg == "--speaker")
            speaker = true;
        else if (arg == "--list")
            list = true;
        else if (arg == "--play")
            play = next();
        else if (arg == "--mic-volume")
            micVolume = std::atoi(next());
        else if (arg == "--source-volume")
            sourceVolume = std::atoi(next());
        else {
            Usage();
            return arg == "-h" || arg == "--help" ? 0 : 2;
        }
    }

    CRudMixer mixer;
    if (list) {
        int r = List(mixer);
        ReleaseWaveInDevices();
        return r;
    }
    if (!mixer.CheckDevice()) {
        std::fprintf(stderr, "vorur-rec: %s\n", mixer.m_strError.c_str());
        return 1;
    }
    if (micVolume >= 0) {
        if (!mixer.SetMicVolume(micVolume))
            std::fprintf(stderr, "vorur-rec: no microphone volume\n");
        std::printf("microphone volume %d\n", mixer.GetMicVolume());
        ReleaseWaveInDevices();
        return 0;
    }

    if (!LoadCodecLibrary()) {
        std::fprintf(stderr, "vorur-rec: %s cannot be loaded\n", CodecLibraryFileName());
        return 1;
    }
    mixer.UnmuteMic();
    if (speaker && !mixer.SelectRecordMixer(1)) {
        std::fprintf(stderr, "vorur-rec: %s\n", mixer.m_strError.c_str());
        return 1;
    }
    if (sourceVolume >= 0 && !mixer.SetSourceVolume(sourceVolume))
        std::fprintf(stderr, "vorur-rec: no source volume\n");
    std::unique_ptr<ISoundDevice> sound;
    if (!play.empty()) {
        sound = DefaultSoundOutput().Open(play);
        if (!sound) {
            std::fprintf(stderr, "vorur-rec: cannot play %s\n", play.c_str());
            return 1;
        }
    }

    std::signal(SIGINT, [](int) { g_interrupted = true; });
    ConsoleTarget target;
    CMP3Recorder recorder;
    if (!recorder.Open(&target, output)) {
        std::fprintf(stderr, "vorur-rec: cannot open %s\n", output.c_str());
        return 1;
    }
    if (!recorder.Start()) {
        std::fprintf(stderr, "vorur-rec: recording did not start\n");
        recorder.Close();
        return 1;
    }
    if (sound)
        sound->Play();
    auto t0 = std::chrono::steady_clock::now();
    while (!g_interrupted && std::chrono::steady_clock::now() - t0 < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        WPARAM level = target.level();
        int bar = static_cast<int>(std::min<WPARAM>(level / 10, 50));
        std::printf("\rlevel %5lu |%-50.*s|", static_cast<unsigned long>(level), bar,
                    "##################################################");
        std::fflush(stdout);
    }
    recorder.Close();
    sound.reset();
    if (speaker)
        mixer.SelectRecordMixer(0);
    ReleaseWaveInDevices();

    std::printf("\nrecorded %.2f s into %s, %u level messages, %llu bytes dropped\n",
                double(recorder.CapturedBytes()) / 176400, output.c_str(), target.count(),
                static_cast<unsigned long long>(recorder.DroppedBytes()));
    if (recorder.WriteFailed()) {
        std::fprintf(stderr, "vorur-rec: writing %s failed: %s\n", output.c_str(), std::strerror(recorder.WriteError()));
        return 1;
    }
    return 0;
}
