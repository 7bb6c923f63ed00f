// Helpers shared by the tests: private temp folders, whole-file reads and writes,
// and the locations of the build's programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under TMPDIR (or /tmp), removed with everything in it when the
// object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// A PCM WAV file of `seconds` of silence, 8 kHz mono 16-bit.
std::string SilentWave(uint32_t seconds);
void RemoveTree(const std::string& path);

// Headless defaults for every test process, each kept when already set:
// QT_QPA_PLATFORM=offscreen, SDL_AUDIODRIVER=dummy, VORUR_MIXER=sim, VORUR_BIN_DIR,
// VORUR_SOURCE_DIR, and SDL_DISKAUDIOFILE=/dev/null so no test leaves a playback file.
void ApplyTestEnvironment();

// build/bin, where the programs and the codec library are.
std::string BinDir();
// The source tree's root.
std::string SourceDir();

// Sets an environment variable for the rest of the test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string m_name;
    bool m_had;
    std::string m_old;
};

}  // namespace testsupport
