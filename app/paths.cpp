#include "paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kMaxPath = 2048;
constexpr const char kTempName[] = "Temp";
constexpr const char kDownloadsName[] = "Downloads";
constexpr const char kRunPrefix[] = "run-";
constexpr unsigned kPrivateFolderMode = 0700;
// The outbox's own mark (kOutboxMark of the outbox, which this library does not link).
constexpr const char kOutboxMarkName[] = ".vorur-outbox";

std::mutex g_folderLock;
bool g_folderDecided = false;
std::string g_moduleFolder;

bool IsWritableFolder(const std::string& folder) {
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

bool IsMarkedFolder(const std::string& folder) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return lstat(JoinPath(folder, kOwnFolderMark).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Nothing of that name yet, or a folder the player made and marked (with its own
// mark, or with one of otherMarks).
bool AbsentOrOwn(const std::string& path, std::initializer_list<const char*> otherMarks = {}) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    if (IsMarkedFolder(path))
        return true;
    if (!S_ISDIR(st.st_mode))
        return false;
    for (const char* mark : otherMarks) {
        if (lstat(JoinPath(path, mark).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

// Makes the folder (0700) when it is missing and marks it as the player's. The data
// folder is settled by then, so a folder found there unmarked is one an earlier
// version made.
void MakeOwnFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
        return;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    std::string mark = JoinPath(folder, kOwnFolderMark);
    if (lstat(mark.c_str(), &st) == 0)
        return;
    int fd = open(mark.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    static const char kText[] = "Made by the Vorur_Ozudiz lesson player, which empties it of its own files.\n";
    [[maybe_unused]] ssize_t n = write(fd, kText, sizeof(kText) - 1);
    close(fd);
}

std::string UserDataFolder() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return std::string();
        base = JoinPath(home, ".local/share");
    }
    std::string folder = JoinPath(base, "Dazuzor/Vorur_Ozudiz2");
    CreateDirectories(folder, kPrivateFolderMode);
    // Recordings wait here: the folder is the user's alone, also when an earlier
    // version made it open to others.
    chmod(folder.c_str(), kPrivateFolderMode);
    return IsWritableFolder(folder) ? folder : std::string();
}

}  // namespace

// A copy of the player in a folder of the user's own keeps its files beside it. An
// installed one (a system folder, even one root can write) keeps them per user, and
// so does a copy beside a Temp, Downloads or Outbox folder that is not the player's:
// emptying the first two would delete the user's files, and the outbox sends what it
// holds to the server. The outbox's mark tells it as the player's, and so does the
// lock file that earlier versions left in it without a mark.
bool IsPortableFolder(const std::string& folder) {
    struct stat st;
    if (!IsWritableFolder(folder) || stat(folder.c_str(), &st) != 0 || st.st_uid != geteuid())
        return false;
    if (folder == "/usr" || folder.rfind("/usr/", 0) == 0)
        return false;
    return AbsentOrOwn(JoinPath(folder, kTempName)) && AbsentOrOwn(JoinPath(folder, kDownloadsName)) &&
           AbsentOrOwn(JoinPath(folder, "Outbox"), {kOutboxMarkName, ".lock"});
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool GetExecutableFolder(std::string& folder) {
    folder.clear();
    std::vector<char> buf(kMaxPath + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), kMaxPath);
    if (n <= 0 || static_cast<size_t>(n) >= kMaxPath)
        return false;
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    folder = slash == 0 ? "/" : path.substr(0, slash);
    return true;
}

bool GetModuleFolder(std::string& folder) {
    std::lock_guard<std::mutex> guard(g_folderLock);
    if (!g_folderDecided) {
        const char* over = std::getenv("VORUR_DATA_DIR");
        std::string exeFolder;
        if (over && *over == '/') {
            g_moduleFolder = over;
            while (g_moduleFolder.size() > 1 && g_moduleFolder.back() == '/')
                g_moduleFolder.pop_back();
            CreateDirectories(g_moduleFolder, kPrivateFolderMode);
        } else if (GetExecutableFolder(exeFolder) && IsPortableFolder(exeFolder)) {
            g_moduleFolder = exeFolder;
        } else {
            g_moduleFolder = UserDataFolder();
        }
        g_folderDecided = true;
    }
    folder = g_moduleFolder;
    return !folder.empty();
}

void ResetModuleFolderForTesting() {
    std::lock_guard<std::mutex> guard(g_folderLock);
    g_folderDecided = false;
    g_moduleFolder.clear();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool CreateDirectories(const std::string& path, unsigned mode) {
    if (path.empty())
        return true;
    if (path.size() > kMaxPath)
        return false;
    bool failed = false;
    size_t pos = 0;
    for (;;) {
        size_t slash = path.find('/', pos);
        std::string candidate;
        if (slash != std::string::npos)
            candidate = path.substr(0, slash);
        else if (pos < path.size())
            candidate = path;
        else
            break;
        // The root itself ("" before the first "/") always exists.
        if (!candidate.empty() && !FileExists(candidate) && mkdir(candidate.c_str(), static_cast<mode_t>(mode)) != 0)
            failed = true;
        if (slash == std::string::npos || slash + 1 >= path.size())
            break;
        pos = slash + 1;
    }
    return !failed;
}

std::string GetTempFolder() {
    std::string module;
    GetModuleFolder(module);
    std::string folder = JoinPath(module, kTempName);
    MakeOwnFolder(folder);
    return folder;
}

void ClearFolderFiles(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> files;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name == kOwnFolderMark)
            continue;
        std::string path = JoinPath(folder, name);
        struct stat st;
        // A link to a folder is a file here: unlinking it leaves its target alone.
        if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        files.push_back(path);
    }
    closedir(dir);
    for (const std::string& path : files)
        unlink(path.c_str());
}

bool MakeDownloadFolder(std::string& folder) {
    folder.clear();
    std::string module;
    if (!GetModuleFolder(module))
        return false;
    std::string downloads = JoinPath(module, kDownloadsName);
    MakeOwnFolder(downloads);
    if (!IsMarkedFolder(downloads))
        return false;
    // Only one player runs per user, so every run folder here is a left-over.
    if (DIR* dir = opendir(downloads.c_str())) {
        std::vector<std::string> stale;
        while (struct dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, kRunPrefix, sizeof(kRunPrefix) - 1) == 0)
                stale.push_back(JoinPath(downloads, entry->d_name));
        }
        closedir(dir);
        for (const std::string& path : stale)
            RemoveDownloadFolder(path);
    }
    std::string pattern = JoinPath(downloads, std::string(kRunPrefix) + "XXXXXX");
    if (!mkdtemp(pattern.data()))
        return false;
    folder = pattern;
    return true;
}

void RemoveDownloadFolder(const std::string& folder) {
    struct stat st;
    if (folder.empty() || lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    ClearFolderFiles(folder);
    rmdir(folder.c_str());
}

std::string FoldNameCase(const std::string& name) {
    std::string folded = name;
    for (size_t i = 0; i < folded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(folded[i]);
        // A byte from 0x81 leads a CP949 double-byte character whose second byte may
        // look like a letter: both stay as they are.
        if (c >= 0x81)
            ++i;
        else if (c >= 'a' && c <= 'z')
            folded[i] = static_cast<char>(c - ('a' - 'A'));
    }
    return folded;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && FoldNameCase(a) == FoldNameCase(b);
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
    std::string exact = JoinPath(folder, name);
    struct stat st;
    if (name.empty() || lstat(exact.c_str(), &st) == 0)
        return exact;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return exact;
    std::string best;
    while (struct dirent* entry = readdir(dir)) {
        std::string candidate = entry->d_name;
        if (EqualsIgnoringCase(candidate, name) && (best.empty() || candidate < best))
            best = candidate;
    }
    closedir(dir);
    return best.empty() ? exact : JoinPath(folder, best);
}
