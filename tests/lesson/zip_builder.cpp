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

std::string Deflate(const std::string& bytes) {
    z_stream zs = {};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, bytes.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

namespace {

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string BuildLayout(const std::vector<Entry>& entries, const Layout& layout) {
    constexpr uint32_t kAll = 0xFFFFFFFF;
    std::string out, central;
    for (const Entry& e : entries) {
        const std::string data = e.deflate ? Deflate(e.data) : e.data;
        const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                         static_cast<uInt>(e.data.size())));
        const uint16_t method = e.deflate ? 8 : 0;
        const uint16_t version = layout.zip64Local || layout.zip64Central ? 45 : 20;
        const uint16_t flags = layout.dataDescriptor ? 8 : 0;
        const uint64_t offset = out.size();

        std::string extra;
        if (layout.zip64Local) {
            Put(extra, 1, 2);
            Put(extra, 16, 2);
            Put(extra, layout.dataDescriptor ? 0 : e.data.size(), 8);
            Put(extra, layout.dataDescriptor ? 0 : data.size(), 8);
        }
        Put(out, 0x04034b50, 4);
        Put(out, version, 2);
        Put(out, flags, 2);
        Put(out, method, 2);
        Put(out, kDefaultDosTime, 4);
        Put(out, layout.dataDescriptor ? 0 : crc, 4);
        Put(out, layout.zip64Local ? kAll : layout.dataDescriptor ? 0 : data.size(), 4);
        Put(out, layout.zip64Local ? kAll : layout.dataDescriptor ? 0 : e.data.size(), 4);
        Put(out, e.name.size(), 2);
        Put(out, extra.size(), 2);
        out += e.name + extra + data;
        if (layout.dataDescriptor) {
            const int width = layout.zip64Local ? 8 : 4;
            Put(out, 0x08074b50, 4);
            Put(out, crc, 4);
            Put(out, data.size(), width);
            Put(out, e.data.size(), width);
        }

        std::string centralExtra;
        if (layout.zip64Central) {
            Put(centralExtra, 1, 2);
            Put(centralExtra, 24, 2);
            Put(centralExtra, e.data.size(), 8);
            Put(centralExtra, data.size(), 8);
            Put(centralExtra, offset, 8);
        }
        Put(central, 0x02014b50, 4);
        Put(central, (3u << 8) | version, 2);
        Put(central, version, 2);
        Put(central, flags, 2);
        Put(central, method, 2);
        Put(central, kDefaultDosTime, 4);
        Put(central, crc, 4);
        Put(central, layout.zip64Central ? kAll : data.size(), 4);
        Put(central, layout.zip64Central ? kAll : e.data.size(), 4);
        Put(central, e.name.size(), 2);
        Put(central, centralExtra.size(), 2);
        Put(central, 0, 2);  // comment
        Put(central, 0, 2);  // disk
        Put(central, 0, 2);  // internal attributes
        Put(central, 0100644u << 16, 4);
        Put(central, layout.zip64Central ? kAll : offset, 4);
        central += e.name + centralExtra;
    }
    const uint64_t centralOffset = out.size();
    const uint64_t centralSize = central.size() + layout.centralSizeError;
    out += central;
    if (layout.zip64Central) {
        const uint64_t zip64End = out.size();
        Put(out, 0x06064b50, 4);
        Put(out, 44, 8);
        Put(out, (3u << 8) | 45, 2);
        Put(out, 45, 2);
        Put(out, 0, 4);
        Put(out, 0, 4);
        Put(out, entries.size(), 8);
        Put(out, entries.size(), 8);
        Put(out, centralSize, 8);
        Put(out, centralOffset, 8);
        Put(out, 0x07064b50, 4);
        Put(out, 0, 4);
        Put(out, zip64End, 8);
        Put(out, 1, 4);
    }
    Put(out, 0x06054b50, 4);
    Put(out, 0, 2);
    Put(out, 0, 2);
    Put(out, layout.zip64Central ? 0xFFFF : entries.size(), 2);
    Put(out, layout.zip64Central ? 0xFFFF : entries.size(), 2);
    Put(out, layout.zip64Central ? kAll : centralSize, 4);
    Put(out, layout.zip64Central ? kAll : centralOffset, 4);
    Put(out, 0, 2);
    return layout.prefix + out;
}

std::string BuildBytes(const std::vector<Entry>& entries) {
    testsupport::TempDir dir;
    std::string path = dir.file("archive.zip");
    if (!Build(path, entries))
        return std::string();
    return testsupport::ReadFile(path);
}

}  // namespace testzip
