#include "paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kMaxPath = 2048;

std::mutex g_folderLock;
bool g_folderDecided = false;
std::string g_moduleFolder;

bool IsWritableFolder(const std::string& folder) {
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

// A copy of the player in a folder of the user's own keeps its files beside it. An
// installed one (a system folder, even one root can write) keeps them per user.
bool IsPortableFolder(const std::string& folder) {
    struct stat st;
    if (!IsWritableFolder(folder) || stat(folder.c_str(), &st) != 0 || st.st_uid != geteuid())
        return false;
    return folder != "/usr" && folder.rfind("/usr/", 0) != 0;
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
    CreateDirectories(folder);
    return IsWritableFolder(folder) ? folder : std::string();
}

}  // namespace

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
            CreateDirectories(g_moduleFolder);
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

bool CreateDirectories(const std::string& path) {
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
        if (!candidate.empty() && !FileExists(candidate) && mkdir(candidate.c_str(), 0777) != 0)
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
    std::string folder = JoinPath(module, "Temp");
    CreateDirectories(folder);
    return folder;
}

void ClearFolderFiles(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> files;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
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
