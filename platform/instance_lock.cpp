#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::string UserRuntimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) {
        struct stat st;
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode))
            return xdg;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorur-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0) {
        // Someone else's folder of that name must not become our lock's home.
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            return std::string();
    }
    return folder;
}

CInstanceLock::~CInstanceLock() { Unlock(); }

bool CInstanceLock::TryLock(const std::string& name) {
    std::string folder = UserRuntimeFolder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
        return false;
    std::string path = folder + "/" + name + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    Unlock();
    m_fd = fd;
    return true;
}

void CInstanceLock::Unlock() {
    if (m_fd >= 0) {
        flock(m_fd, LOCK_UN);
        close(m_fd);
        m_fd = -1;
    }
}
