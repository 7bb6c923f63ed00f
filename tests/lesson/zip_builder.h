// Builds zip archives for the tests with minizip's writer, with control over what a
// well-behaved packer would never write: hostile names, links, broken data, bad CRCs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testzip {

struct Entry {
    std::string name;
    std::string data;
    bool deflate = true;
    uint32_t dosDateTime = 0;  // 0: 2021-06-15 10:20:30
    uint32_t externalAttributes = 0;
    uint32_t versionMadeBy = 0;  // host in the high byte: 3 is Unix
    // Raw mode: data is written as it stands (already compressed, or garbage) with
    // the given size and CRC in the headers.
    bool raw = false;
    uint64_t rawSize = 0;
    uint32_t rawCrc = 0;
};

Entry File(const std::string& name, const std::string& data, bool deflate = true);
Entry Folder(const std::string& name);
Entry Symlink(const std::string& name, const std::string& target);

// False when minizip refused something.
bool Build(const std::string& path, const std::vector<Entry>& entries);
std::string BuildBytes(const std::vector<Entry>& entries);

// The DOS date/time of a local calendar time.
uint32_t DosTime(int year, int month, int day, int hour, int minute, int second);
constexpr uint32_t kDefaultDosTime = ((2021 - 1980) << 25) | (6 << 21) | (15 << 16) | (10 << 11) | (20 << 5) | 15;

}  // namespace testzip
