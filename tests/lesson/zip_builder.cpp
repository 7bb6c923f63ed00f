#include "zip_builder.h"

#include <unistd.h>

#include <cstdio>

#include <minizip/zip.h>
#include <zlib.h>

#include "test_support.h"

namespace testzip {

Entry File(const std::string& name, const std::string& data, bool deflate) {
    Entry e;
    e.name = name;
    e.data = data;
    e.deflate = deflate;
    return e;
}

Entry Folder(const std::string& name) {
    Entry e;
    e.name = name;
    e.deflate = false;
    e.externalAttributes = 0x10;
    return e;
}

Entry Symlink(const std::string& name, const std::string& target) {
    Entry e;
    e.name = name;
    e.data = target;
    e.deflate = false;
    e.versionMadeBy = 3 << 8;
    e.externalAttributes = 0120777u << 16;
    return e;
}

uint32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
    return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(month) << 21) |
           (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(hour) << 11) |
           (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
}

bool Build(const std::string& path, const std::vector<Entry>& entries) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    bool ok = true;
    for (const Entry& e : entries) {
        zip_fileinfo zi = {};
        zi.dosDate = e.dosDateTime ? e.dosDateTime : kDefaultDosTime;
        zi.external_fa = e.externalAttributes;
        int method = e.deflate ? Z_DEFLATED : 0;
        int level = e.deflate ? Z_DEFAULT_COMPRESSION : 0;
        ok = zipOpenNewFileInZip4_64(zf, e.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, method, level,
                                     e.raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                     e.versionMadeBy, 0, 0) == ZIP_OK;
        if (!ok)
            break;
        if (!e.data.empty())
            ok = zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
        int closed = e.raw ? zipCloseFileInZipRaw64(zf, e.rawSize, e.rawCrc) : zipCloseFileInZip(zf);
        ok = ok && closed == ZIP_OK;
        if (!ok)
            break;
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

std::string BuildBytes(const std::vector<Entry>& entries) {
    testsupport::TempDir dir;
    std::string path = dir.file("archive.zip");
    if (!Build(path, entries))
        return std::string();
    return testsupport::ReadFile(path);
}

}  // namespace testzip
