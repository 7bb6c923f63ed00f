// Writing lesson packages: "config.cfg" followed by the page files, in a zip archive.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "cfg_file.h"

// One file of a package: its entry name (CP949 bytes, stored as they are) and its
// content, given as bytes or as the path of a file to copy.
struct PackageFile {
    std::string name;
    std::string bytes;       // used when sourcePath is empty
    std::string sourcePath;  // a file to copy
    time_t modified = 0;     // 0: the source file's time, or now for bytes

    static PackageFile FromBytes(const std::string& name, const std::string& bytes) {
        PackageFile f;
        f.name = name;
        f.bytes = bytes;
        return f;
    }
    static PackageFile FromPath(const std::string& name, const std::string& path) {
        PackageFile f;
        f.name = name;
        f.sourcePath = path;
        return f;
    }
};

// Writes cfg as "config.cfg" and then the files, in order. Formats that are already
// compressed (pictures, MP3, OGG) are stored, everything else deflated. The package
// is written beside outPath and renamed into place, so a failure never leaves a
// damaged package (or destroys an existing one). False, with a message in error when
// given, for a missing source file, an entry name given twice or named
// "config.cfg", an empty name, or a write error.
bool WritePackage(const std::string& outPath, const CCfgFile& cfg, const std::vector<PackageFile>& files,
                  std::string* error);
