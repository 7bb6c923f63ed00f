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

// How another packer lays out an archive's records. Written byte by byte: minizip's
// writer makes none of these.
struct Layout {
    // Local headers give 0xFFFFFFFF for the sizes, the real ones in a ZIP64 extra field.
    bool zip64Local = false;
    // Local headers give CRC and sizes 0 (with zip64Local: ZIP64 zeros), the real ones
    // in a data descriptor after the data (8-byte sizes with zip64Local).
    bool dataDescriptor = false;
    // Central entries give 0xFFFFFFFF for the sizes and the local header offset, the
    // real ones in a ZIP64 extra field; ZIP64 end records come before the end record.
    bool zip64Central = false;
    // Added to the central directory size that the end records give.
    int64_t centralSizeError = 0;
    // Bytes in front of the archive, not counted in its offsets (as a self-extractor's).
    std::string prefix;
};

// Entries by name, data and deflate; the other fields are not used.
std::string BuildLayout(const std::vector<Entry>& entries, const Layout& layout);

// The DOS date/time of a local calendar time.
uint32_t DosTime(int year, int month, int day, int hour, int minute, int second);
constexpr uint32_t kDefaultDosTime = ((2021 - 1980) << 25) | (6 << 21) | (15 << 16) | (10 << 11) | (20 << 5) | 15;

// Raw deflate data of bytes, as a zip entry holds it.
std::string Deflate(const std::string& bytes);

}  // namespace testzip
