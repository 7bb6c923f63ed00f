#include "unzipper.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include <minizip/unzip.h>

#include "codepage.h"
#include "paths.h"

namespace {

constexpr size_t kCopyBuffer = 64 * 1024;
constexpr uint32_t kDosFolderAttribute = 0x10;
constexpr uint32_t kEncryptedFlag = 0x1;

unzFile Handle(void* p) { return static_cast<unzFile>(p); }

// Entry names in messages: the CP949 bytes shown as UTF-8, quoted.
std::string Quote(const std::string& name) {
    std::string utf8;
    Cp949ToUtf8(name, utf8);
    return "\"" + utf8 + "\"";
}

std::string ErrnoText(int err) { return std::strerror(err); }

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Splits on "/" and drops empty and "." parts; reports ".." parts.
std::vector<std::string> SplitName(const std::string& name, bool& climbs) {
    std::vector<std::string> parts;
    climbs = false;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t slash = name.find('/', pos);
        if (slash == std::string::npos)
            slash = name.size();
        std::string part = name.substr(pos, slash - pos);
        if (part == "..")
            climbs = true;
        if (!part.empty() && part != ".")
            parts.push_back(part);
        pos = slash + 1;
    }
    return parts;
}

// True when a folder between base and base/parts[0..count) already exists as a link:
// following it could lead out of the destination.
bool CrossesLink(const std::string& base, const std::vector<std::string>& parts, size_t count) {
    std::string path = base;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        path = JoinPath(path, parts[i]);
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return false;  // nothing below a missing folder exists yet
        if (S_ISLNK(st.st_mode))
            return true;
    }
    return false;
}

// Removes the folder at path when it holds nothing but folders, however deep (a
// folder entry an older extraction left where a file must go). A loop, not a
// recursion: one path at a time, never longer than PATH_MAX. False, with everything
// left as it is below the first thing that is not an empty folder, otherwise.
bool RemoveEmptyFolders(const std::string& root) {
    std::string current = root;
    for (;;) {
        DIR* dir = opendir(current.c_str());
        if (!dir)
            return false;
        std::string sub;
        bool other = false;
        while (struct dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st;
            std::string path = current + "/" + name;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && path.size() < PATH_MAX) {
                sub = path;
                break;
            }
            other = true;
            break;
        }
        closedir(dir);
        if (other)
            return false;
        if (!sub.empty()) {
            current = sub;
            continue;
        }
        if (rmdir(current.c_str()) != 0)
            return false;
        if (current == root)
            return true;
        current.erase(current.rfind('/'));
    }
}

// "/a/./b/../c" -> "/a/c"; path must be absolute.
std::string Normalize(const std::string& path) {
    bool climbs;
    std::vector<std::string> parts = SplitName(path, climbs);
    std::vector<std::string> kept;
    for (const std::string& part : parts) {
        if (part == "..") {
            if (!kept.empty())
                kept.pop_back();
        } else {
            kept.push_back(part);
        }
    }
    std::string out;
    for (const std::string& part : kept)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0)
            return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

// A field of the archive's bookkeeping as minizip is to read it: `width` bytes at
// `offset` read as `value`, little-endian.
struct ZipFieldRepair {
    uint64_t offset;
    uint64_t value;
    unsigned width;
};

// The archive as minizip reads it: its bytes, from a file or from memory, with the
// repairs laid over them. The data of the entries is never changed.
struct CUnzipper::View {
    int fd = -1;
    const unsigned char* memory = nullptr;
    uint64_t size = 0;
    std::vector<ZipFieldRepair> repairs;  // by offset, none overlapping

    View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View() {
        if (fd >= 0)
            close(fd);
    }

    // Up to n bytes at offset, as the archive holds them; fewer only at its end or
    // on a read error.
    size_t ReadRaw(uint64_t offset, void* buf, size_t n) const {
        if (offset >= size)
            return 0;
        if (n > size - offset)
            n = static_cast<size_t>(size - offset);
        if (memory) {
            std::memcpy(buf, memory + offset, n);
            return n;
        }
        size_t done = 0;
        while (done < n) {
            const ssize_t r = pread(fd, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            done += static_cast<size_t>(r);
        }
        return done;
    }

    // The same with the repairs applied.
    size_t Read(uint64_t offset, void* buf, size_t n) const {
        const size_t got = ReadRaw(offset, buf, n);
        auto it = std::lower_bound(repairs.begin(), repairs.end(), offset,
                                   [](const ZipFieldRepair& r, uint64_t at) { return r.offset + r.width <= at; });
        for (; it != repairs.end() && it->offset < offset + got; ++it) {
            for (unsigned k = 0; k < it->width; ++k) {
                const uint64_t at = it->offset + k;
                if (at >= offset && at < offset + got)
                    static_cast<unsigned char*>(buf)[at - offset] = static_cast<unsigned char>(it->value >> (8 * k));
            }
        }
        return got;
    }

    // A little-endian number of `width` bytes at offset; false past the end.
    bool Number(uint64_t offset, unsigned width, uint64_t& value) const {
        unsigned char b[8];
        if (width > sizeof b || ReadRaw(offset, b, width) != width)
            return false;
        value = 0;
        for (unsigned k = width; k-- > 0;)
            value = (value << 8) | b[k];
        return true;
    }

    bool Signature(uint64_t offset, uint32_t signature) const {
        uint64_t value;
        return Number(offset, 4, value) && value == signature;
    }

    void FindRepairs();
};

namespace {

constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint64_t kStoredInZip64 = 0xFFFFFFFF;
// ZIP64 fields are repaired for this many entries of the central directory, as many
// as an archive without ZIP64 can count; later ones are read as they stand. It
// bounds the repairs kept to a few megabytes whatever the archive says.
constexpr uint64_t kMaxRepairedEntries = 0xFFFF;

}  // namespace

// minizip (as the system has it) reads two things otherwise than Info-ZIP's unzip:
// - a size or offset of 0xFFFFFFFF in a central directory entry, whose value is in
//   the entry's ZIP64 extra field: minizip takes 0xFFFFFFFF itself. The value from
//   the extra field is put in its place when it fits.
// - a recorded central directory size that falls short of the end records: minizip
//   takes the difference for bytes in front of the archive and misses every entry.
//   Where the directory starts at its recorded offset and not at the shifted one,
//   unzip takes the recorded offset, and so does this: the size is set to reach the
//   end record. A recorded size that runs past the end records is refused by unzip
//   as overlapping, and stays refused.
// The end record is found the way minizip finds it, so the repairs land on the
// records minizip reads.
void CUnzipper::View::FindRepairs() {
    repairs.clear();
    // The last end record signature in the final 64 KiB, not at offset 0.
    const uint64_t window = std::min<uint64_t>(size, 0xFFFF);
    std::vector<unsigned char> tail(static_cast<size_t>(window));
    if (window < 22 || ReadRaw(size - window, tail.data(), tail.size()) != tail.size())
        return;
    uint64_t end = 0;
    for (size_t i = tail.size() - 4 + 1; i-- > 0;) {
        if (tail[i] == 0x50 && tail[i + 1] == 0x4b && tail[i + 2] == 0x05 && tail[i + 3] == 0x06) {
            end = size - window + i;
            break;
        }
    }
    if (end == 0)
        return;

    // The record minizip takes its figures from: the ZIP64 end record when the
    // locator in front of the end record names one, else the end record.
    uint64_t record = end, sizeField = end + 12, offsetField = end + 16, entries = 0;
    unsigned width = 4;
    uint64_t locatorDisk, zip64End, disks;
    if (end >= 20 && Signature(end - 20, kZip64LocatorSignature) && Number(end - 16, 4, locatorDisk) &&
        locatorDisk == 0 && Number(end - 12, 8, zip64End) && Number(end - 4, 4, disks) && disks == 1 &&
        Signature(zip64End, kZip64EndSignature)) {
        record = zip64End;
        sizeField = zip64End + 40;
        offsetField = zip64End + 48;
        width = 8;
        if (!Number(zip64End + 24, 8, entries))
            return;
    } else if (!Number(end + 10, 2, entries)) {
        return;
    }
    uint64_t cdSize, cdOffset;
    if (!Number(sizeField, width, cdSize) || !Number(offsetField, width, cdOffset) || entries == 0 ||
        cdOffset > record || cdSize > record - cdOffset)
        return;
    uint64_t before = record - cdOffset - cdSize;  // what minizip takes for bytes in front
    if (before > 0 && (width == 8 || record - cdOffset < kStoredInZip64) &&
        !Signature(cdOffset + before, kCentralHeaderSignature) && Signature(cdOffset, kCentralHeaderSignature)) {
        repairs.push_back({sizeField, record - cdOffset, width});
        before = 0;
    }

    std::vector<ZipFieldRepair> entryRepairs;
    uint64_t at = cdOffset + before;
    // The directory lies before the end records: what is not is no entry of it.
    for (uint64_t i = 0; i < entries && i < kMaxRepairedEntries && at + 46 <= record; ++i) {
        unsigned char h[46];
        if (ReadRaw(at, h, sizeof h) != sizeof h)
            break;
        auto field = [&h](unsigned pos, unsigned n) {
            uint64_t v = 0;
            for (unsigned k = n; k-- > 0;)
                v = (v << 8) | h[pos + k];
            return v;
        };
        if (field(0, 4) != kCentralHeaderSignature)
            break;
        const uint64_t nameLength = field(28, 2), extraLength = field(30, 2), commentLength = field(32, 2);
        // In the order the ZIP64 extra field holds them.
        const unsigned positions[] = {24, 20, 42};  // uncompressed size, compressed size, local header
        bool wanted = false;
        for (unsigned pos : positions)
            wanted = wanted || field(pos, 4) == kStoredInZip64;
        std::vector<unsigned char> extra(static_cast<size_t>(wanted ? extraLength : 0));
        if (!extra.empty() && ReadRaw(at + 46 + nameLength, extra.data(), extra.size()) == extra.size()) {
            for (size_t k = 0; k + 4 <= extra.size();) {
                const unsigned id = extra[k] | extra[k + 1] << 8;
                const size_t length = extra[k + 2] | extra[k + 3] << 8;
                if (length > extra.size() - k - 4)
                    break;
                if (id == kZip64ExtraId) {
                    size_t next = k + 4;
                    for (unsigned pos : positions) {
                        if (field(pos, 4) != kStoredInZip64)
                            continue;
                        if (next + 8 > k + 4 + length)
                            break;
                        uint64_t value = 0;
                        for (unsigned b = 8; b-- > 0;)
                            value = (value << 8) | extra[next + b];
                        next += 8;
                        if (value < kStoredInZip64)
                            entryRepairs.push_back({at + pos, value, 4});
                    }
                    break;
                }
                k += 4 + length;
            }
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
    // Entry fields lie before the end records, so the list stays in offset order
    // and without overlaps: each entry's fields are within its own header.
    std::sort(entryRepairs.begin(), entryRepairs.end(),
              [](const ZipFieldRepair& a, const ZipFieldRepair& b) { return a.offset < b.offset; });
    repairs.insert(repairs.begin(), entryRepairs.begin(), entryRepairs.end());
}

namespace {

// minizip file functions over a View: each open is a cursor of its own.
struct ViewStream {
    const CUnzipper::View* view;
    uint64_t pos;
};

voidpf ZCALLBACK ViewOpen(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    return new (std::nothrow) ViewStream{static_cast<const CUnzipper::View*>(opaque), 0};
}

uLong ZCALLBACK ViewRead(voidpf, voidpf s, void* buf, uLong size) {
    auto* stream = static_cast<ViewStream*>(s);
    const size_t n = stream->view->Read(stream->pos, buf, size);
    stream->pos += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK ViewWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK ViewTell(voidpf, voidpf s) { return static_cast<ViewStream*>(s)->pos; }

long ZCALLBACK ViewSeek(voidpf, voidpf s, ZPOS64_T offset, int origin) {
    auto* stream = static_cast<ViewStream*>(s);
    const uint64_t size = stream->view->size;
    uint64_t base;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = stream->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = size; break;
    default: return -1;
    }
    if (offset > size || base + offset > size)
        return -1;
    stream->pos = base + offset;
    return 0;
}

int ZCALLBACK ViewClose(voidpf, voidpf s) {
    delete static_cast<ViewStream*>(s);
    return 0;
}

int ZCALLBACK ViewError(voidpf, voidpf) { return 0; }

}  // namespace

CUnzipper::CUnzipper(const char* path) {
    if (path)
        OpenArchive(path);
}

CUnzipper::~CUnzipper() { CloseArchive(); }

bool CUnzipper::SetError(const std::string& text) {
    m_strError = text;
    return false;
}

bool CUnzipper::OpenArchive(const char* path) {
    CloseArchive();
    if (!path || !*path)
        return SetError("no archive named");
    std::string full = path;
    if (full[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof(cwd)))
            return SetError(std::string(path) + ": " + ErrnoText(errno));
        full = JoinPath(cwd, full);
    }
    // The full path only names the default destination; the archive is opened by the
    // path as given, which a lexical ".." behind a link would otherwise change.
    full = Normalize(full);
    struct stat st;
    if (stat(path, &st) != 0)
        return SetError(std::string(path) + ": " + ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        return SetError(std::string(path) + ": not a file");
    auto view = std::make_unique<View>();
    // Non-blocking: a pipe put in the file's place since the stat must not hang here.
    view->fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (view->fd < 0)
        return SetError(std::string(path) + ": " + ErrnoText(errno));
    if (fstat(view->fd, &st) != 0 || !S_ISREG(st.st_mode))
        return SetError(std::string(path) + ": not a file");
    view->size = static_cast<uint64_t>(st.st_size);
    if (!OpenView(std::move(view)))
        return SetError(std::string(path) + ": not a zip archive, or it cannot be read");
    // The default destination: the archive's path without its extension.
    std::string dest = full;
    size_t slash = dest.rfind('/');
    size_t dot = dest.rfind('.');
    if (dot != std::string::npos && dot > slash + 1)
        dest.erase(dot);
    m_destination = dest;
    return true;
}

bool CUnzipper::OpenArchiveFromMemory(const void* data, size_t size) {
    CloseArchive();
    if (!data && size > 0)
        return SetError("no archive data");
    auto view = std::make_unique<View>();
    view->memory = static_cast<const unsigned char*>(data);
    view->size = size;
    if (!OpenView(std::move(view)))
        return SetError("not a zip archive");
    return true;
}

bool CUnzipper::OpenView(std::unique_ptr<View> view) {
    try {
        view->FindRepairs();
    } catch (const std::bad_alloc&) {
        view->repairs.clear();  // read as it stands
    }
    zlib_filefunc64_def funcs = {};
    funcs.zopen64_file = ViewOpen;
    funcs.zread_file = ViewRead;
    funcs.zwrite_file = ViewWrite;
    funcs.ztell64_file = ViewTell;
    funcs.zseek64_file = ViewSeek;
    funcs.zclose_file = ViewClose;
    funcs.zerror_file = ViewError;
    funcs.opaque = view.get();
    unzFile zf = unzOpen2_64("archive", &funcs);
    if (!zf)
        return false;
    m_view = std::move(view);
    m_hArchive = zf;
    m_archiveInflated = 0;
    m_atEnd = false;
    m_strError.clear();
    return true;
}

bool CUnzipper::CloseArchive() {
    bool ok = false;
    if (m_hArchive) {
        unzCloseCurrentFile(Handle(m_hArchive));
        ok = unzClose(Handle(m_hArchive)) == UNZ_OK;
        m_hArchive = nullptr;
    }
    m_view.reset();
    m_destination.clear();
    return ok;
}

bool CUnzipper::SetDestination(const char* folder) {
    if (!folder || !*folder)
        return SetError("no destination folder named");
    struct stat st;
    if (stat(folder, &st) == 0 && !S_ISDIR(st.st_mode))
        return SetError(std::string(folder) + ": not a folder");
    m_destination = folder;
    if (!EnsureFolder(folder))
        return SetError(std::string(folder) + ": the folder cannot be created");
    return true;
}

void CUnzipper::SetLimits(uint64_t entryLimit, uint64_t archiveLimit) {
    m_entryLimit = entryLimit;
    m_archiveLimit = archiveLimit;
}

int CUnzipper::CountEntries() {
    if (!m_hArchive)
        return 0;
    unz_global_info64 gi;
    if (unzGetGlobalInfo64(Handle(m_hArchive), &gi) != UNZ_OK)
        return 0;
    return gi.number_entry > static_cast<ZPOS64_T>(INT_MAX) ? INT_MAX : static_cast<int>(gi.number_entry);
}

bool CUnzipper::ReadEntryInfo(ZipEntryInfo& info) {
    info = ZipEntryInfo();
    if (!m_hArchive)
        return SetError("no archive is open");
    unz_file_info64 fi;
    if (unzGetCurrentFileInfo64(Handle(m_hArchive), &fi, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return SetError("an entry's description cannot be read");
    // Full-length buffers: a name cut short would be extracted under another name.
    std::vector<char> name(fi.size_filename + 1, '\0');
    std::vector<char> comment(fi.size_file_comment + 1, '\0');
    if (unzGetCurrentFileInfo64(Handle(m_hArchive), &fi, name.data(), name.size(), nullptr, 0, comment.data(),
                                comment.size()) != UNZ_OK)
        return SetError("an entry's description cannot be read");
    info.name.assign(name.data(), fi.size_filename);
    for (char& c : info.name) {
        if (c == '\\')
            c = '/';
    }
    info.comment.assign(comment.data(), fi.size_file_comment);
    info.versionMadeBy = static_cast<uint32_t>(fi.version);
    info.versionNeeded = static_cast<uint32_t>(fi.version_needed);
    info.flags = static_cast<uint32_t>(fi.flag);
    info.compressionMethod = static_cast<uint32_t>(fi.compression_method);
    info.dosDateTime = static_cast<uint32_t>(fi.dosDate);
    info.crc32 = static_cast<uint32_t>(fi.crc);
    info.compressedSize = fi.compressed_size;
    info.uncompressedSize = fi.uncompressed_size;
    info.internalAttributes = static_cast<uint32_t>(fi.internal_fa);
    info.externalAttributes = static_cast<uint32_t>(fi.external_fa);
    info.isFolder = (info.externalAttributes & kDosFolderAttribute) != 0;
    uint32_t host = info.versionMadeBy >> 8;
    uint32_t mode = info.externalAttributes >> 16;
    info.isSymlink = (host == 3 || host == 19) && (mode & S_IFMT) == S_IFLNK;
    return true;
}

bool CUnzipper::MatchesExtension(const char* extension) {
    ZipEntryInfo info;
    if (!ReadEntryInfo(info))
        return false;
    size_t slash = info.name.rfind('/');
    size_t dot = info.name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    return strcasecmp(info.name.c_str() + dot + 1, extension) == 0;
}

bool CUnzipper::FirstEntry(const char* extension) {
    m_atEnd = false;
    m_index = 0;
    if (!m_hArchive)
        return SetError("no archive is open");
    int r = unzGoToFirstFile(Handle(m_hArchive));
    if (r != UNZ_OK) {
        m_atEnd = r == UNZ_END_OF_LIST_OF_FILE;
        return SetError(m_atEnd ? "the archive holds no entries" : "the archive's entry list is damaged");
    }
    if (!extension || !*extension || MatchesExtension(extension))
        return true;
    return NextEntry(extension);
}

bool CUnzipper::NextEntry(const char* extension) {
    m_atEnd = false;
    if (!m_hArchive)
        return SetError("no archive is open");
    for (;;) {
        int r = unzGoToNextFile(Handle(m_hArchive));
        if (r != UNZ_OK) {
            // With a count of exactly 0xFFFF minizip does not stop at the count and
            // meets the end record instead: having walked every entry is the end too.
            m_atEnd = r == UNZ_END_OF_LIST_OF_FILE || m_index + 1 >= CountEntries();
            return SetError(m_atEnd ? "no further entry" : "the archive's entry list is damaged");
        }
        ++m_index;
        if (!extension || !*extension || MatchesExtension(extension))
            return true;
    }
}

// minizip hands out the compressed bytes of a method it cannot inflate (bzip2) as if
// they were the data, and reads encrypted entries without a password as garbage: both
// are refused before the entry is opened.
bool CUnzipper::Readable(const ZipEntryInfo& info, const std::string& label) {
    if (info.flags & kEncryptedFlag)
        return SetError(label + ": the entry is encrypted");
    if (info.compressionMethod != 0 && info.compressionMethod != Z_DEFLATED)
        return SetError(label + ": compression method " + std::to_string(info.compressionMethod) +
                        " is not supported");
    return true;
}

// Inflates the current (opened) entry into out, or into memory when out < 0.
bool CUnzipper::CopyEntry(int out, std::string* memory, const ZipEntryInfo& info, const std::string& label) {
    std::vector<char> buf(kCopyBuffer);
    uint64_t entryBytes = 0;
    for (;;) {
        int n = unzReadCurrentFile(Handle(m_hArchive), buf.data(), static_cast<unsigned>(buf.size()));
        if (n == 0) {
            // A deflate stream that ends early reads as a clean end, and minizip then
            // skips the CRC check: the size is what tells.
            if (entryBytes != info.uncompressedSize)
                return SetError(label + ": the data ends before its stated size");
            return true;
        }
        if (n < 0)
            return SetError(label + ": the compressed data is damaged");
        entryBytes += static_cast<uint64_t>(n);
        m_archiveInflated += static_cast<uint64_t>(n);
        if (entryBytes > m_entryLimit)
            return SetError(label + ": the entry inflates past the limit of " + std::to_string(m_entryLimit) +
                            " bytes");
        if (m_archiveInflated > m_archiveLimit)
            return SetError(label + ": the archive inflates past the limit of " +
                            std::to_string(m_archiveLimit) + " bytes");
        if (memory) {
            memory->append(buf.data(), static_cast<size_t>(n));
        } else if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            return SetError(label + ": " + ErrnoText(errno));
        }
    }
}

bool CUnzipper::ExtractEntryToMemory(std::string& bytes) {
    bytes.clear();
    ZipEntryInfo info;
    if (!ReadEntryInfo(info))
        return false;
    std::string label = "entry " + Quote(info.name);
    if (info.isFolder)
        return SetError(label + ": a folder");
    if (!Readable(info, label))
        return false;
    if (unzOpenCurrentFile(Handle(m_hArchive)) != UNZ_OK)
        return SetError(label + ": the entry cannot be opened (unsupported method or damaged header)");
    bool ok;
    try {
        ok = CopyEntry(-1, &bytes, info, label);
    } catch (const std::bad_alloc&) {
        ok = SetError(label + ": out of memory");
    }
    int closed = unzCloseCurrentFile(Handle(m_hArchive));
    if (ok && closed == UNZ_CRCERROR)
        ok = SetError(label + ": the data does not match its checksum");
    if (!ok)
        bytes.clear();
    return ok;
}

// Where an entry goes, or false (with the reason) when it may not be written there.
// folder tells a folder entry; with flatten it goes nowhere (an empty path): flat
// extraction makes no folders.
bool CUnzipper::PlanEntry(const ZipEntryInfo& info, const std::string& dest, bool flatten, std::string& outPath,
                          bool& folder) {
    outPath.clear();
    const std::string& name = info.name;
    std::string label = "entry " + Quote(name);
    if (name.find('\0') != std::string::npos)
        return SetError(label + ": the name holds a zero byte");
    folder = info.isFolder || (!name.empty() && name.back() == '/');
    if (flatten) {
        if (folder)
            return true;
        size_t slash = name.rfind('/');
        std::string relative = slash == std::string::npos ? name : name.substr(slash + 1);
        if (relative.empty() || relative == "." || relative == "..")
            return SetError(label + ": no file name to write");
        outPath = JoinPath(dest, relative);
        if (outPath.size() >= PATH_MAX)
            return SetError(label + ": the output path is too long");
        return true;
    }
    // Checked before the name is taken apart: a name can be 64 KiB of "a/a/a/...".
    if (dest.size() + 1 + name.size() >= PATH_MAX)
        return SetError(label + ": the output path is too long");
    bool climbs;
    std::vector<std::string> parts = SplitName(name, climbs);
    bool absolute = !name.empty() && name[0] == '/';
    if (absolute || climbs)
        return SetError(label + (folder ? ": the folder" : ": the file") + " would lie outside the destination");
    if (parts.empty())
        return folder ? true : SetError(label + ": no file name to write");
    if (CrossesLink(dest, parts, folder ? parts.size() : parts.size() - 1))
        return SetError(label + ": a link is in the way");
    outPath = dest;
    for (const std::string& part : parts)
        outPath = JoinPath(outPath, part);
    return true;
}

bool CUnzipper::ExtractEntry(const char* folder, bool flatten) {
    if (!m_hArchive)
        return SetError("no archive is open");
    std::string dest = folder ? folder : m_destination;
    if (!EnsureFolder(dest.c_str()))
        return SetError(dest + ": the folder cannot be created");
    ZipEntryInfo info;
    if (!ReadEntryInfo(info))
        return false;
    std::string outPath;
    bool folderEntry;
    if (!PlanEntry(info, dest, flatten, outPath, folderEntry))
        return false;
    std::string label = "entry " + Quote(info.name);
    if (folderEntry) {
        if (!outPath.empty() && !EnsureFolder(outPath.c_str()))
            return SetError(label + ": the folder cannot be created");
        return true;
    }
    if (!EnsureParentFolder(outPath.c_str()))
        return SetError(label + ": the folder for the file cannot be created");

    // Whatever is at the output path is replaced, never written through: a link or a
    // second name of another file would carry the data elsewhere. A folder goes only
    // when nothing but folders is in it.
    struct stat st;
    if (lstat(outPath.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            if (!RemoveEmptyFolders(outPath))
                return SetError(label + ": a folder of that name is in the way");
        } else if (unlink(outPath.c_str()) != 0) {
            return SetError(label + ": " + ErrnoText(errno));
        }
    }
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0)
        return SetError(label + ": " + ErrnoText(errno));

    bool ok;
    if (!Readable(info, label)) {
        ok = false;
    } else if (unzOpenCurrentFile(Handle(m_hArchive)) != UNZ_OK) {
        ok = SetError(label + ": the entry cannot be opened (unsupported method or damaged header)");
    } else {
        ok = CopyEntry(out, nullptr, info, label);
        // Only a fully read entry is checked against its CRC; a mismatch is data the
        // lesson would show or play wrongly, so the entry fails.
        int closed = unzCloseCurrentFile(Handle(m_hArchive));
        if (ok && closed == UNZ_CRCERROR)
            ok = SetError(label + ": the data does not match its checksum");
    }
    if (close(out) != 0 && ok)
        ok = SetError(label + ": " + ErrnoText(errno));
    if (!ok) {
        unlink(outPath.c_str());  // no half-written file left looking complete
        return false;
    }
    ApplyEntryTime(outPath.c_str(), info.dosDateTime);
    return true;
}

// Deletes the files that the entries before the current one wrote. The list is
// walked again rather than remembered, so an archive of a million entries costs no
// memory here; it was walked that far already, so it walks again.
void CUnzipper::RemoveExtracted(const std::string& dest, bool flatten, int count) {
    std::string error = m_strError;
    if (unzGoToFirstFile(Handle(m_hArchive)) == UNZ_OK) {
        for (int i = 0; i < count; ++i) {
            ZipEntryInfo info;
            std::string outPath;
            bool folderEntry;
            if (ReadEntryInfo(info) && PlanEntry(info, dest, flatten, outPath, folderEntry) && !folderEntry) {
                struct stat st;
                if (lstat(outPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
                    unlink(outPath.c_str());
            }
            if (unzGoToNextFile(Handle(m_hArchive)) != UNZ_OK)
                break;
        }
    }
    m_strError = error;
}

bool CUnzipper::ExtractAll(const char* folder, bool flatten) {
    if (!m_hArchive)
        return SetError("no archive is open");
    if (!folder)
        return SetError("no destination folder named");
    if (!EnsureFolder(folder))
        return SetError(std::string(folder) + ": the folder cannot be created");
    if (CountEntries() == 0)
        return SetError("the archive holds no entries");
    if (!FirstEntry())
        return false;
    for (;;) {
        if (!ExtractEntry(folder, flatten)) {
            RemoveExtracted(folder, flatten, m_index);
            return false;
        }
        if (!NextEntry()) {
            if (m_atEnd) {
                m_strError.clear();
                return true;
            }
            // The list broke off: entries would be missing.
            RemoveExtracted(folder, flatten, m_index + 1);
            return false;
        }
    }
}

bool CUnzipper::EnsureFolder(const char* path) {
    if (!path || !*path)
        return false;
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.size() >= PATH_MAX)
        return false;
    struct stat st;
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // Each missing folder along the path in turn, from the top: a loop, so that no
    // depth of nesting can exhaust the stack.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        std::string part = slash == std::string::npos ? folder : folder.substr(0, slash);
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return false;
        } else if (mkdir(part.c_str(), 0777) != 0 && !(errno == EEXIST && IsFolder(part))) {
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

bool CUnzipper::EnsureParentFolder(const char* filePath) {
    if (!filePath)
        return false;
    std::string path = filePath;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    return EnsureFolder(parent.c_str());
}

bool CUnzipper::ApplyEntryTime(const char* filePath, uint32_t dosDateTime) {
    if (!filePath)
        return false;
    uint32_t date = dosDateTime >> 16;
    uint32_t time = dosDateTime & 0xFFFF;
    struct tm tm = {};
    tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_hour = static_cast<int>(time >> 11);
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_year = static_cast<int>(date >> 9) + 80;
    tm.tm_isdst = -1;  // the stored time is local time; let the zone rules decide
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1))
        return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, filePath, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ExtractPackage(const std::string& packagePath, const std::string& folder, std::string* error) {
    CreateDirectories(folder);
    CUnzipper unzipper;
    unzipper.SetDestination(folder.c_str());
    bool ok = unzipper.OpenArchive(packagePath.c_str()) && unzipper.ExtractAll(folder.c_str(), true);
    if (error)
        *error = ok ? std::string() : unzipper.GetError();
    return ok;
}

bool ExtractPackage(const std::string& packagePath, const std::string& folder) {
    return ExtractPackage(packagePath, folder, nullptr);
}
