// The seven launch arguments and the file names derived from them.
#pragma once

#include <string>
#include <vector>

#include "wintypes.h"

struct LaunchArgs {
    std::string url;         // lesson package address
    std::string id;          // learner
    std::string classId;     // kept, not used further
    std::string uploadTag1;
    std::string uploadTag2;
    std::string uploadTag3;
    std::string times;       // "PRACTICE" marks a practice-only run
    BOOL practiceMode = 0;
    std::string packagePath;     // <module folder>/<last segment of url>
    std::string uploadFileName;  // <tag1>_<tag2>_<tag3>_SP_<id>.mp3
    std::string recordingPath;   // <module folder>/<uploadFileName>
};

enum class LaunchArgsCheck {
    Accepted,
    WrongCount,  // not exactly seven: ends silently
    NoSlash,     // url without "/": ends silently
    BadPackageName,  // last segment without "." (or a bare "." / ".."): ends with a message
};

// The pure part of reading the arguments: counts them, copies them, derives the
// names. `args` excludes the executable's own name.
LaunchArgsCheck ParseLaunchArgs(const std::vector<std::string>& args, const std::string& moduleFolder,
                                LaunchArgs& out);

// Case-insensitive comparison of ASCII letters; other bytes must match exactly.
bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b);
