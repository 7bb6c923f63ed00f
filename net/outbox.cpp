#include "outbox.h"

#include "diagnostics.h"
#include "http_file_up.h"
#include "percent_escape.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kRefusedFolder[] = "refused";
constexpr char kSendingPrefix[] = ".sending.";
constexpr char kTempPrefix[] = ".tmp-";
constexpr char kLockName[] = ".lock";
constexpr char kIndexName[] = ".index";
constexpr char kIndexHeader[] = "vorur-outbox-index 1";
constexpr char kMarkText[] =
    "Made by the Vorur_Ozudiz lesson player: recordings waiting to be sent to the lesson server.\n";
constexpr char kField[] = "upload";
// The index is read up to this size and this many records (50 entries and the
// names accepted since the outbox was last taken); what lies beyond is ignored,
// and files without a record get a new one.
constexpr size_t kIndexMaxBytes = 256 * 1024;
constexpr size_t kIndexMaxRecords = 1000;
// No record can be dated before this (2024-01-01): an earlier time is a clock
// that was wrong when it was written, and the record is dated anew.
constexpr time_t kEarliestTime = 1704067200;
// A copy left by a process that died while writing it; younger ones may still
// be on their way.
constexpr time_t kStaleTempSeconds = 3600;
// Longest file name most file systems take.
constexpr size_t kNameMax = 255;

std::string Join(const std::string& folder, const std::string& name) { return folder + "/" + name; }

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The folder, created for the user alone; an existing one of ours is narrowed
// to the user. A link in its place is not followed.
bool EnsureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), 0700);
    return true;
}

// Makes the renames in `folder` survive a power cut.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// rename() that never replaces: false with errno EEXIST when `to` is there.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag: a link fails the same way on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool IsFile(const std::string& path, struct stat* out = nullptr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (out)
        *out = st;
    return true;
}

// Names directly inside `folder`.
std::vector<std::string> List(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Copies `source` into a new 0600 file in `folder`, flushed to the disk; its
// path, or "" when the copy could not be made whole (nothing is left then).
std::string CopyToTemp(const std::string& source, const std::string& folder) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return "";
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > COutbox::kMaxEntryBytes) {
        ::close(in);
        return "";
    }
    std::string temp = Join(folder, std::string(kTempPrefix) + "XXXXXX");
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return "";
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                ok = false;
            else
                done += w;
        }
        if (!ok)
            break;
    }
    ::close(in);
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return "";
    }
    return temp;
}

// Writes `text` into a new 0600 file in `folder`, flushed, and renames it to
// `name` there: the file is whole under that name or as it was.
bool WriteFileAtomically(const std::string& folder, const std::string& name, const std::string& text) {
    std::string temp = Join(folder, std::string(kTempPrefix) + "XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            ok = false;
        else
            done += static_cast<size_t>(w);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), Join(folder, name).c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

// A whole decimal number in [0, max].
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > max)
        return false;
    out = value;
    return true;
}

std::string FormatDate(time_t when) {
    char text[32] = "?";
    struct tm parts {};
    if (::gmtime_r(&when, &parts))
        std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

// Counts the bytes of the body as they go, for a progress display.
class CProgressUp : public CKtHttpFileUp {
public:
    CProgressUp(const std::function<void(const OutboxEvent&)>& progress, const OutboxEntry& entry)
        : m_progress(progress), m_entry(entry) {}
    bool OnSendProgress(size_t sent, size_t) override {
        if (m_progress) {
            OutboxEvent event;
            event.kind = OutboxEvent::Progress;
            event.entry = &m_entry;
            event.sent = sent;
            m_progress(event);
        }
        return true;
    }

private:
    const std::function<void(const OutboxEvent&)>& m_progress;
    const OutboxEntry& m_entry;
};

}  // namespace

// What the outbox keeps of each file name, in `.index`:
//   vorur-outbox-index 1
//   next SEQ            the number the next take gets
//   starts N            how often a process has taken the outbox
//   entry SEQ FIRST TRIES LAST SENDING NAME
// SEQ orders the takes of all names; FIRST is when the take came in (seconds
// since 1970); TRIES counts the starts on which it was sent, LAST is the latest
// of them; SENDING is the SEQ of the copy of NAME on its way (0: none). A name's
// record outlives its files until the next start when a newer take of it was
// accepted, so that no older copy still on its way can come back.
struct OutboxRecord {
    uint64_t seq = 0;
    time_t first = 0;
    int tries = 0;
    uint64_t lastStart = 0;
    uint64_t sending = 0;
};

struct OutboxIndex {
    uint64_t next = 1;
    uint64_t starts = 0;
    std::map<std::string, OutboxRecord> records;  // by file name
};

namespace {

OutboxIndex LoadIndex(const std::string& folder) {
    OutboxIndex index;
    const int fd = ::open(Join(folder, kIndexName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return index;
    std::string text;
    char buffer[16384];
    while (text.size() < kIndexMaxBytes) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kIndexMaxBytes - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t pos = 0;
    bool headerSeen = false;
    uint64_t highest = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break;  // a cut last line is not read
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!headerSeen) {
            if (line != kIndexHeader)
                return OutboxIndex();
            headerSeen = true;
            continue;
        }
        std::vector<std::string> words;
        size_t at = 0;
        // Six words, then the name as the rest of the line (it may hold spaces).
        while (words.size() < 6 && at <= line.size()) {
            const size_t space = line.find(' ', at);
            if (space == std::string::npos) {
                words.push_back(line.substr(at));
                at = line.size() + 1;
            } else {
                words.push_back(line.substr(at, space - at));
                at = space + 1;
            }
        }
        const std::string name = at <= line.size() ? line.substr(at) : "";
        uint64_t value = 0;
        if (words.size() == 2 && words[0] == "next" && ParseNumber(words[1], UINT64_MAX / 2, value)) {
            index.next = std::max<uint64_t>(value, 1);
        } else if (words.size() == 2 && words[0] == "starts" && ParseNumber(words[1], UINT64_MAX / 2, value)) {
            index.starts = value;
        } else if (words.size() == 6 && words[0] == "entry" && !name.empty() && name[0] != '.' &&
                   name.size() <= kNameMax && name.find('/') == std::string::npos &&
                   index.records.size() < kIndexMaxRecords) {
            OutboxRecord r;
            uint64_t first = 0, tries = 0;
            if (!ParseNumber(words[1], UINT64_MAX / 2, r.seq) || r.seq == 0 ||
                !ParseNumber(words[2], INT64_MAX, first) || !ParseNumber(words[3], 1000000, tries) ||
                !ParseNumber(words[4], UINT64_MAX / 2, r.lastStart) ||
                !ParseNumber(words[5], UINT64_MAX / 2, r.sending))
                continue;
            r.first = static_cast<time_t>(first);
            r.tries = static_cast<int>(tries);
            highest = std::max(highest, r.seq);
            index.records[name] = r;
        }
    }
    // Numbers handed out stay unique even when the line with "next" was lost.
    index.next = std::max(index.next, highest + 1);
    return index;
}

bool SaveIndex(const std::string& folder, const OutboxIndex& index) {
    std::string text = std::string(kIndexHeader) + "\n";
    text += "next " + std::to_string(index.next) + "\n";
    text += "starts " + std::to_string(index.starts) + "\n";
    for (const auto& [name, r] : index.records) {
        text += "entry " + std::to_string(r.seq) + " " + std::to_string(std::max<time_t>(r.first, 0)) + " " +
                std::to_string(r.tries) + " " + std::to_string(r.lastStart) + " " + std::to_string(r.sending) +
                " " + name + "\n";
    }
    return WriteFileAtomically(folder, kIndexName, text);
}

}  // namespace

bool IsOutboxFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return IsFile(Join(folder, kOutboxMark));
}

std::string OutboxFileName(const std::string& uploadName) {
    std::string out;
    for (size_t i = 0; i < uploadName.size(); ++i) {
        const auto b = static_cast<unsigned char>(uploadName[i]);
        // The first byte also when the name would be taken for the folder of refusals.
        const bool first = i == 0 && (b == '.' || uploadName == kRefusedFolder);
        if (b == '%' || b == '/' || b < 0x20 || b == 0x7f || first) {
            AppendPercentEscaped(out, b);
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string OutboxUploadName(const std::string& fileName) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < fileName.size(); ++i) {
        if (fileName[i] == '%' && i + 2 < fileName.size() && digit(fileName[i + 1]) >= 0 &&
            digit(fileName[i + 2]) >= 0) {
            out += static_cast<char>(digit(fileName[i + 1]) * 16 + digit(fileName[i + 2]));
            i += 2;
        } else {
            out += fileName[i];
        }
    }
    return out;
}

COutbox::COutbox(std::string folder, bool own) : m_folder(std::move(folder)), m_own(own) {}

COutbox::~COutbox() {
    StopSending();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::string COutbox::PendingPath(const std::string& fileName) const { return Join(m_folder, fileName); }

std::string COutbox::RefusedPath(const std::string& fileName) const {
    return Join(Join(m_folder, kRefusedFolder), fileName);
}

std::string COutbox::SendingPath(const std::string& entryPath) const {
    return Join(DirName(entryPath), kSendingPrefix + BaseName(entryPath));
}

bool COutbox::Put(const std::string& uploadName, const std::string& sourcePath) {
    const std::string fileName = OutboxFileName(uploadName);
    if (fileName.empty() || fileName.size() + sizeof kSendingPrefix - 1 > kNameMax)
        return false;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!ClaimLocked())
        return false;
    const std::string temp = CopyToTemp(sourcePath, m_folder);
    if (temp.empty())
        return false;
    OutboxIndex index = LoadIndex(m_folder);
    if (!MakeRoomLocked(index, fileName, 1)) {
        ::unlink(temp.c_str());
        Diagnose("the outbox " + m_folder + " is full of recordings not tried yet", "not taken in: " + uploadName);
        return false;
    }
    if (::rename(temp.c_str(), PendingPath(fileName).c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(m_folder);
    // The older refusal of the same name is superseded.
    if (::unlink(RefusedPath(fileName).c_str()) == 0)
        SyncFolder(Join(m_folder, kRefusedFolder));
    // A new take: any copy of the name still on its way is older now.
    OutboxRecord& r = index.records[fileName];
    r.seq = index.next++;
    r.first = Now();
    r.tries = 0;
    r.lastStart = 0;
    SaveIndex(m_folder, index);
    return true;
}

bool COutbox::MarkRefused(const std::string& uploadName) {
    const std::string fileName = OutboxFileName(uploadName);
    const std::string refused = Join(m_folder, kRefusedFolder);
    if (fileName.empty())
        return false;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!ClaimLocked() || !EnsureFolder(refused))
        return false;
    if (::rename(PendingPath(fileName).c_str(), RefusedPath(fileName).c_str()) != 0)
        return false;
    SyncFolder(refused);
    SyncFolder(m_folder);
    // The server has seen this take.
    OutboxIndex index = LoadIndex(m_folder);
    if (auto it = index.records.find(fileName); it != index.records.end() && it->second.lastStart != m_start) {
        ++it->second.tries;
        it->second.lastStart = m_start;
        SaveIndex(m_folder, index);
    }
    return true;
}

void COutbox::Drop(const std::string& uploadName) {
    const std::string fileName = OutboxFileName(uploadName);
    struct stat st {};
    if (fileName.empty() || ::lstat(m_folder.c_str(), &st) != 0)
        return;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!ClaimLocked())
        return;
    // Recorded first: a copy of the name on its way finds a newer take and is
    // not put back, whenever its send ends.
    OutboxIndex index = LoadIndex(m_folder);
    OutboxRecord& r = index.records[fileName];
    r.seq = index.next++;
    r.first = Now();
    SaveIndex(m_folder, index);
    std::vector<std::string> paths = {PendingPath(fileName), RefusedPath(fileName)};
    // A copy left half sent by a process that died: only when no round of ours
    // is on its way.
    if (!m_thread.joinable()) {
        paths.push_back(SendingPath(PendingPath(fileName)));
        paths.push_back(SendingPath(RefusedPath(fileName)));
    }
    for (const std::string& path : paths)
        ::unlink(path.c_str());
    SyncFolder(m_folder);
    SyncFolder(Join(m_folder, kRefusedFolder));
}

bool COutbox::SafeToSendDirectly(const std::string& uploadName) {
    std::lock_guard<std::mutex> guard(m_mutex);
    struct stat st {};
    if (m_lockFd >= 0 || (::lstat(m_folder.c_str(), &st) == 0 && ClaimLocked()))
        return true;
    // Another process may be sending the outbox: any copy of the name in it is
    // an older take that could reach the server after this one.
    const std::string fileName = OutboxFileName(uploadName);
    for (const std::string& path : {PendingPath(fileName), RefusedPath(fileName), SendingPath(PendingPath(fileName)),
                                    SendingPath(RefusedPath(fileName))}) {
        if (::lstat(path.c_str(), &st) == 0)
            return false;
    }
    return true;
}

std::vector<OutboxEntry> COutbox::Entries(bool withRefused) const {
    const OutboxIndex index = LoadIndex(m_folder);
    std::vector<OutboxEntry> all;
    for (const bool refused : {false, true}) {
        if (refused && !withRefused)
            break;
        const std::string folder = refused ? Join(m_folder, kRefusedFolder) : m_folder;
        std::vector<OutboxEntry> some;
        for (const std::string& name : List(folder)) {
            struct stat st {};
            const std::string path = Join(folder, name);
            if (name[0] == '.' || !IsFile(path, &st))
                continue;
            OutboxEntry entry;
            entry.name = OutboxUploadName(name);
            entry.path = path;
            entry.refused = refused;
            entry.stored = st.st_mtime;
            entry.size = st.st_size;
            if (auto it = index.records.find(name); it != index.records.end()) {
                entry.stored = it->second.first;
                entry.seq = it->second.seq;
                entry.tries = it->second.tries;
            }
            some.push_back(std::move(entry));
        }
        // Files without a record (an earlier version's) came in before any with one.
        std::sort(some.begin(), some.end(), [](const OutboxEntry& a, const OutboxEntry& b) {
            if (a.seq != b.seq)
                return a.seq < b.seq;
            return a.stored != b.stored ? a.stored < b.stored : a.path < b.path;
        });
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

// The lock, the mark, and this start's number; then what an earlier process
// left is mended.
bool COutbox::ClaimLocked() {
    if (m_lockFd >= 0)
        return true;
    if (m_own ? !EnsureFolder(m_folder) : !IsOutboxFolder(m_folder))
        return false;
    const int fd = ::open(Join(m_folder, kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    const std::string mark = Join(m_folder, kOutboxMark);
    if (m_own && !IsFile(mark)) {
        const int markFd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (markFd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(markFd, kMarkText, sizeof kMarkText - 1);
            ::fsync(markFd);
            ::close(markFd);
            SyncFolder(m_folder);
        }
    }
    OutboxIndex index = LoadIndex(m_folder);
    m_start = ++index.starts;
    RecoverLocked(index);
    return true;
}

// Puts back what a process that died left half sent, unless a newer take of
// the name has come in or been accepted since; removes what it left half
// copied; gives every entry a record. Only the holder of the lock sends, and
// none of its sends is on its way here, so every ".sending." file is an orphan.
void COutbox::RecoverLocked(OutboxIndex& index) {
    const time_t now = Now();
    for (const std::string& folder : {m_folder, Join(m_folder, kRefusedFolder)}) {
        const bool inRefused = folder != m_folder;
        bool changed = false;
        for (const std::string& name : List(folder)) {
            const std::string path = Join(folder, name);
            struct stat st {};
            if (!IsFile(path, &st))
                continue;
            if (StartsWith(name, kSendingPrefix)) {
                const std::string fileName = name.substr(sizeof kSendingPrefix - 1);
                const auto it = index.records.find(fileName);
                // Without a number (an earlier version's send) the copy is the
                // newest unless one lies under its name.
                bool current = it == index.records.end() || it->second.sending == 0 ||
                               it->second.sending == it->second.seq;
                if (inRefused && IsFile(PendingPath(fileName)))
                    current = false;
                if (!current || !RenameNoReplace(path, Join(folder, fileName)))
                    ::unlink(path.c_str());
                changed = true;
            } else if (StartsWith(name, kTempPrefix) && now - st.st_mtime > kStaleTempSeconds) {
                ::unlink(path.c_str());
                changed = true;
            }
        }
        if (changed)
            SyncFolder(folder);
    }

    // Every entry has a record from here on; a name's record without files goes.
    std::vector<OutboxEntry> entries = Entries(true);
    std::set<std::string> present;
    std::vector<const OutboxEntry*> unrecorded;
    for (const OutboxEntry& entry : entries) {
        const std::string fileName = BaseName(entry.path);
        present.insert(fileName);
        if (!index.records.count(fileName))
            unrecorded.push_back(&entry);
    }
    for (auto it = index.records.begin(); it != index.records.end();) {
        it->second.sending = 0;
        // A clock that was wrong then or is wrong now: the entry counts as new.
        if (it->second.first > now || it->second.first < kEarliestTime)
            it->second.first = now;
        it = present.count(it->first) ? std::next(it) : index.records.erase(it);
    }
    // Oldest first, as they were listed.
    for (const OutboxEntry* entry : unrecorded) {
        OutboxRecord r;
        r.seq = index.next++;
        r.first = now;
        index.records[BaseName(entry->path)] = r;
    }
    SaveIndex(m_folder, index);
}

void COutbox::DropEntryLocked(OutboxIndex& index, const OutboxEntry& entry, const std::string& why) {
    if (::unlink(entry.path.c_str()) != 0)
        return;
    SyncFolder(DirName(entry.path));
    Diagnose("dropped " + entry.name + (entry.refused ? " (refused)" : "") + " from the outbox " + m_folder, why);
    const std::string fileName = BaseName(entry.path);
    // A refused copy beside a waiting one shares its record.
    if (!IsFile(PendingPath(fileName)) && !IsFile(RefusedPath(fileName)))
        index.records.erase(fileName);
}

// Frees places until `room` more entries fit beside those there, the entry of
// `keepFileName` aside (a new take replaces it in its place). The oldest refused
// entries go first, then the oldest tried ones; an entry never tried stays, and
// then nothing goes and the answer is false.
bool COutbox::MakeRoomLocked(OutboxIndex& index, const std::string& keepFileName, size_t room) {
    std::vector<OutboxEntry> entries = Entries(true);
    std::vector<const OutboxEntry*> candidates;
    size_t count = 0;
    for (const OutboxEntry& entry : entries) {
        if (BaseName(entry.path) == keepFileName)
            continue;
        ++count;
        if (entry.refused || entry.tries > 0)
            candidates.push_back(&entry);
    }
    if (count + room <= kMaxEntries)
        return true;
    const size_t excess = count + room - kMaxEntries;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const OutboxEntry* a, const OutboxEntry* b) { return a->refused > b->refused; });
    if (candidates.size() < excess)
        return false;
    for (size_t i = 0; i < excess; ++i) {
        const OutboxEntry& entry = *candidates[i];
        DropEntryLocked(index, entry,
                        "more than " + std::to_string(kMaxEntries) + " recordings; " +
                            (entry.refused ? "refused by the server" : "tried " + std::to_string(entry.tries) +
                                                                           " times") +
                            ", in since " + FormatDate(entry.stored));
    }
    SaveIndex(m_folder, index);
    return true;
}

// Drops what has expired: the older of two copies of a name, and entries tried
// on kMinTriesToExpire starts that are older than kMaxAgeSeconds by their record.
void COutbox::PruneLocked(OutboxIndex& index) {
    const time_t now = Now();
    std::vector<OutboxEntry> entries = Entries(true);
    for (const OutboxEntry& entry : entries) {
        const std::string fileName = BaseName(entry.path);
        const auto it = index.records.find(fileName);
        if (entry.refused && IsFile(PendingPath(fileName))) {
            // Killed between two steps: a refusal is only older than a copy put in after it.
            DropEntryLocked(index, entry, "a newer copy waits");
        } else if (it != index.records.end() && it->second.tries >= kMinTriesToExpire &&
                   now > it->second.first && now - it->second.first > kMaxAgeSeconds) {
            DropEntryLocked(index, entry,
                            "tried on " + std::to_string(it->second.tries) + " starts since " +
                                FormatDate(it->second.first) + ", never accepted");
        }
    }
    MakeRoomLocked(index, "", 0);
    SaveIndex(m_folder, index);
}

void COutbox::FinishSendLocked(const OutboxEntry& entry, uint64_t seq, OutboxResult result) {
    const std::string fileName = BaseName(entry.path);
    const std::string sending = SendingPath(entry.path);
    OutboxIndex index = LoadIndex(m_folder);
    const auto it = index.records.find(fileName);
    // The copy sent is still the newest take of its name; without a record (the
    // index was lost meanwhile) nothing says otherwise.
    const bool current = it == index.records.end() || it->second.seq == seq;
    const bool newerWaits = IsFile(PendingPath(fileName));
    switch (result) {
    case OutboxResult::Delivered:
        ::unlink(sending.c_str());
        if (it != index.records.end() && current)
            index.records.erase(it);
        break;
    case OutboxResult::Refused:
        // Kept for support staff, not sent again by itself.
        if (!current || newerWaits || !EnsureFolder(Join(m_folder, kRefusedFolder)) ||
            !RenameNoReplace(sending, RefusedPath(fileName)))
            ::unlink(sending.c_str());
        break;
    default:
        // Back where it was, unless a newer take has come in or been accepted.
        if (!current || (entry.refused && newerWaits) || !RenameNoReplace(sending, entry.path))
            ::unlink(sending.c_str());
        break;
    }
    if (const auto again = index.records.find(fileName); again != index.records.end())
        again->second.sending = 0;
    SaveIndex(m_folder, index);
    SyncFolder(m_folder);
    SyncFolder(Join(m_folder, kRefusedFolder));
}

OutboxRound COutbox::SendAll(const std::string& url, bool withRefused,
                             const std::function<void(const OutboxEvent&)>& progress) {
    OutboxRound round;
    struct stat st {};
    if (!m_own && !IsOutboxFolder(m_folder)) {
        round.notOutbox = true;
        return round;
    }
    if (::lstat(m_folder.c_str(), &st) != 0 && errno == ENOENT)
        return round;  // nothing was ever put in
    std::vector<OutboxEntry> entries;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!ClaimLocked()) {
            round.busy = true;
            return round;
        }
        OutboxIndex index = LoadIndex(m_folder);
        RecoverLocked(index);
        entries = Entries(withRefused);
    }
    // The least tried first, so that a limit reached or a server gone midway
    // leaves others their turn at the next start.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const OutboxEntry& a, const OutboxEntry& b) { return a.tries < b.tries; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRoundSeconds);

    auto report = [&](const OutboxEntry& entry, OutboxResult result, const std::string& detail) {
        if (!progress)
            return;
        OutboxEvent event;
        event.kind = OutboxEvent::End;
        event.entry = &entry;
        event.result = result;
        event.detail = detail;
        progress(event);
    };

    for (size_t i = 0; i < entries.size(); ++i) {
        const OutboxEntry& entry = entries[i];
        if (m_stop || std::chrono::steady_clock::now() >= deadline) {
            round.left = static_cast<int>(entries.size() - i);
            break;
        }
        if (entry.size > kMaxEntryBytes || !CKtHttpFileUp::NamesFit(kField, entry.name)) {
            ++round.skipped;
            report(entry, OutboxResult::Skipped, "cannot be sent as it is");
            continue;
        }
        // Renamed while it is on its way, its take's number in the record: a newer
        // copy put in meanwhile takes the entry's own name, and a newer take put in
        // or accepted meanwhile keeps this one from coming back.
        const std::string fileName = BaseName(entry.path);
        const std::string sending = SendingPath(entry.path);
        uint64_t seq = 0;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            OutboxIndex index = LoadIndex(m_folder);
            const auto it = index.records.find(fileName);
            if (it == index.records.end() || !IsFile(entry.path))
                continue;  // gone or replaced meanwhile
            OutboxRecord& r = it->second;
            seq = r.seq;
            r.sending = seq;
            if (r.lastStart != m_start) {
                ++r.tries;
                r.lastStart = m_start;
            }
            if (!SaveIndex(m_folder, index)) {
                ++round.skipped;
                report(entry, OutboxResult::Skipped, "the outbox's record cannot be written");
                continue;
            }
            if (::rename(entry.path.c_str(), sending.c_str()) != 0)
                continue;  // gone meanwhile
        }
        auto finish = [&](OutboxResult result) {
            std::lock_guard<std::mutex> guard(m_mutex);
            FinishSendLocked(entry, seq, result);
        };

        std::vector<unsigned char> bytes;
        std::string error;
        if (!ReadUploadFile(sending, bytes, error, static_cast<size_t>(kMaxEntryBytes), false)) {
            finish(OutboxResult::Skipped);
            ++round.skipped;
            report(entry, OutboxResult::Skipped, error);
            continue;
        }
        if (progress) {
            OutboxEvent event;
            event.kind = OutboxEvent::Begin;
            event.entry = &entry;
            progress(event);
        }
        CProgressUp uploader(progress, entry);
        uploader.m_pStop = &m_stop;
        std::string reply;
        if (uploader.PostFile(bytes.data(), bytes.size(), url, kField, entry.name, reply)) {
            const bool ok = reply.find("OK") != std::string::npos;
            finish(ok ? OutboxResult::Delivered : OutboxResult::Refused);
            ++(ok ? round.delivered : round.refused);
            report(entry, ok ? OutboxResult::Delivered : OutboxResult::Refused, reply);
            continue;
        }
        if (uploader.EarlyStatus() != 0) {
            // The server has spoken before it took the recording (too large, say).
            finish(OutboxResult::Refused);
            ++round.refused;
            report(entry, OutboxResult::Refused,
                   "HTTP " + std::to_string(uploader.EarlyStatus()) + " before the whole recording was sent");
            continue;
        }
        finish(OutboxResult::Failed);
        ++round.failed;
        const std::string& reason = uploader.FailureReason();
        report(entry, OutboxResult::Failed, reason.empty() ? "upload failed" : reason);
        // A server that cannot be reached at all gets one request per round.
        if (uploader.ServerNotReached() && !m_stop) {
            round.left = static_cast<int>(entries.size() - i - 1);
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        OutboxIndex index = LoadIndex(m_folder);
        PruneLocked(index);
    }
    return round;
}

void COutbox::StartSending(const std::string& url) {
    if (m_thread.joinable())
        return;
    m_stop = false;
    m_thread = std::thread([this, url] { SendAll(url); });
}

void COutbox::StopSending() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}
