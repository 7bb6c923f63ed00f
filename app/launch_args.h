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
    std::string packageName;     // the last segment of url, taken verbatim
    std::string packagePath;     // <folder of this run's download>/<packageName>
    std::string uploadFileName;  // <tag1>_<tag2>_<tag3>_SP_<id>.mp3, the name the server gets
    std::string recordingPath;   // <module folder>/<uploadFileName made a safe file name>
};

enum class LaunchArgsCheck {
    Accepted,
    WrongCount,  // not exactly seven: ends silently
    NoSlash,     // url without "/": ends silently
    BadPackageName,  // last segment without "." (or a bare "." / ".."): ends with a message
};

// The pure part of reading the arguments: counts them, copies them, derives the
// names. `args` excludes the executable's own name. packagePath is left for the
// caller, who makes the folder the package is downloaded into.
LaunchArgsCheck ParseLaunchArgs(const std::vector<std::string>& args, const std::string& moduleFolder,
                                LaunchArgs& out);

// A name that stays one file name inside its folder: "/" becomes "%2F" and "%" becomes
// "%25", so that different names stay different. Other names come out unchanged.
// (Arguments are bounded by the kernel, 128 KiB each; a name longer than the file
// system takes fails when the file is created.)
std::string LocalFileName(const std::string& name);
