#include "outbox.h"

#include "http_file_up.h"
#include "percent_escape.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

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
constexpr char kField[] = "upload";
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

COutbox::COutbox(std::string folder) : m_folder(std::move(folder)) {}

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
    if (fileName.empty() || fileName.size() + sizeof kSendingPrefix - 1 > kNameMax || !EnsureFolder(m_folder))
        return false;
    const std::string temp = CopyToTemp(sourcePath, m_folder);
    if (temp.empty())
        return false;
    if (::rename(temp.c_str(), PendingPath(fileName).c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(m_folder);
    // The older refusal of the same name is superseded.
    if (::unlink(RefusedPath(fileName).c_str()) == 0)
        SyncFolder(Join(m_folder, kRefusedFolder));
    Prune(::time(nullptr));
    return true;
}

bool COutbox::MarkRefused(const std::string& uploadName) {
    const std::string fileName = OutboxFileName(uploadName);
    const std::string refused = Join(m_folder, kRefusedFolder);
    if (fileName.empty() || !EnsureFolder(refused))
        return false;
    if (::rename(PendingPath(fileName).c_str(), RefusedPath(fileName).c_str()) != 0)
        return false;
    SyncFolder(refused);
    SyncFolder(m_folder);
    return true;
}

void COutbox::Drop(const std::string& uploadName) {
    const std::string fileName = OutboxFileName(uploadName);
    struct stat st {};
    if (fileName.empty() || ::lstat(m_folder.c_str(), &st) != 0)
        return;
    std::vector<std::string> paths = {PendingPath(fileName), RefusedPath(fileName)};
    // A copy left half sent by a process that died: only when no round of ours
    // is on its way and no other process is sending.
    if (!m_thread.joinable() && Claim()) {
        paths.push_back(SendingPath(PendingPath(fileName)));
        paths.push_back(SendingPath(RefusedPath(fileName)));
    }
    for (const std::string& path : paths)
        ::unlink(path.c_str());
    SyncFolder(m_folder);
}

std::vector<OutboxEntry> COutbox::Entries(bool withRefused) const {
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
            some.push_back(std::move(entry));
        }
        std::sort(some.begin(), some.end(), [](const OutboxEntry& a, const OutboxEntry& b) {
            return a.stored != b.stored ? a.stored < b.stored : a.path < b.path;
        });
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

bool COutbox::Claim() {
    if (m_lockFd >= 0)
        return true;
    if (!EnsureFolder(m_folder))
        return false;
    const int fd = ::open(Join(m_folder, kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

// Puts back what a process that died left half sent or half copied. Only the
// holder of the lock sends, so a ".sending." file found then has no owner.
void COutbox::Recover() {
    const time_t now = ::time(nullptr);
    for (const std::string& folder : {m_folder, Join(m_folder, kRefusedFolder)}) {
        bool changed = false;
        for (const std::string& name : List(folder)) {
            const std::string path = Join(folder, name);
            struct stat st {};
            if (!IsFile(path, &st))
                continue;
            if (StartsWith(name, kSendingPrefix)) {
                const std::string original = Join(folder, name.substr(sizeof kSendingPrefix - 1));
                // A newer copy under the same name has come in meanwhile: it wins.
                if (!RenameNoReplace(path, original))
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
}

// Keeps the newest copy of each name, nothing older than kMaxAgeSeconds and at
// most kMaxEntries entries.
void COutbox::Prune(time_t now) {
    std::vector<OutboxEntry> all = Entries(true);
    // Newest first; of two copies stored in the same second the waiting one is
    // the newer (a refusal is only ever older than a copy put in after it).
    std::sort(all.begin(), all.end(), [](const OutboxEntry& a, const OutboxEntry& b) {
        return a.stored != b.stored ? a.stored > b.stored : a.refused < b.refused;
    });
    std::map<std::string, bool> seen;
    size_t kept = 0;
    bool changed = false;
    for (const OutboxEntry& entry : all) {
        const bool duplicate = !seen.emplace(entry.name, true).second;
        if (duplicate || now - entry.stored > kMaxAgeSeconds || kept >= kMaxEntries) {
            ::unlink(entry.path.c_str());
            changed = true;
        } else {
            ++kept;
        }
    }
    if (changed) {
        SyncFolder(m_folder);
        SyncFolder(Join(m_folder, kRefusedFolder));
    }
}

OutboxRound COutbox::SendAll(const std::string& url, bool withRefused,
                             const std::function<void(const OutboxEvent&)>& progress) {
    OutboxRound round;
    struct stat st {};
    if (::lstat(m_folder.c_str(), &st) != 0 && errno == ENOENT)
        return round;  // nothing was ever put in
    if (!Claim()) {
        round.busy = true;
        return round;
    }
    Recover();
    Prune(::time(nullptr));
    const std::vector<OutboxEntry> entries = Entries(withRefused);

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
        if (m_stop) {
            round.left = static_cast<int>(entries.size() - i);
            break;
        }
        if (entry.size > kMaxEntryBytes || !CKtHttpFileUp::NamesFit(kField, entry.name)) {
            ++round.skipped;
            report(entry, OutboxResult::Skipped, "cannot be sent as it is");
            continue;
        }
        // Renamed while it is on its way: a newer copy put in meanwhile takes the
        // entry's own name and is never mistaken for the one sent.
        const std::string sending = SendingPath(entry.path);
        if (::rename(entry.path.c_str(), sending.c_str()) != 0)
            continue;  // gone meanwhile
        const std::string pending = PendingPath(BaseName(entry.path));
        // Back where it was, unless a newer copy has come in.
        auto putBack = [&] {
            if ((entry.refused && IsFile(pending)) || !RenameNoReplace(sending, entry.path))
                ::unlink(sending.c_str());
            SyncFolder(DirName(entry.path));
        };

        std::vector<unsigned char> bytes;
        std::string error;
        if (!ReadUploadFile(sending, bytes, error, static_cast<size_t>(kMaxEntryBytes), false)) {
            putBack();
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
        if (!uploader.PostFile(bytes.data(), bytes.size(), url, kField, entry.name, reply)) {
            putBack();
            ++round.failed;
            round.left = static_cast<int>(entries.size() - i - 1);
            const std::string& reason = uploader.FailureReason();
            report(entry, OutboxResult::Failed, reason.empty() ? "upload failed" : reason);
            break;
        }
        if (reply.find("OK") != std::string::npos) {
            ::unlink(sending.c_str());
            SyncFolder(DirName(entry.path));
            ++round.delivered;
            report(entry, OutboxResult::Delivered, reply);
            continue;
        }
        // The server has spoken: kept for support staff, not sent again by itself.
        const std::string refused = RefusedPath(BaseName(entry.path));
        if (IsFile(pending) || !EnsureFolder(Join(m_folder, kRefusedFolder)) ||
            ::rename(sending.c_str(), refused.c_str()) != 0)
            ::unlink(sending.c_str());
        SyncFolder(Join(m_folder, kRefusedFolder));
        SyncFolder(m_folder);
        ++round.refused;
        report(entry, OutboxResult::Refused, reply);
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
