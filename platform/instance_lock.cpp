#include "instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

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

namespace {

bool SocketAddress(const std::string& name, sockaddr_un& address, std::string& path) {
    const std::string folder = UserRuntimeFolder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
        return false;
    path = folder + "/" + name + ".sock";
    if (path.size() >= sizeof address.sun_path)
        return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Tokens are short printable text; anything else is dropped rather than passed on.
bool IsToken(const std::string& text) {
    if (text.empty() || text.size() > 512)
        return false;
    for (unsigned char c : text)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    return true;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CInstanceChannel::~CInstanceChannel() {
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_path.c_str());
    }
}

bool CInstanceChannel::Listen(const std::string& name) {
    sockaddr_un address;
    std::string path;
    if (m_fd >= 0 || !SocketAddress(name, address, path))
        return false;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        // Ours from a copy that ended without removing it: the lock says none runs.
        if (!S_ISSOCK(st.st_mode) || st.st_uid != getuid() || unlink(path.c_str()) != 0)
            return false;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const mode_t old = umask(0077);
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    umask(old);
    if (!bound || listen(fd, 4) != 0) {
        if (bound)
            unlink(path.c_str());
        close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool CInstanceChannel::Accept(RaiseRequest& request) {
    request = RaiseRequest();
    if (m_fd < 0)
        return false;
    const int fd = accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    ucred peer = {};
    socklen_t peerSize = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != getuid()) {
        close(fd);
        return false;
    }
    // The sender writes its few bytes at once; a peer that dawdles is cut off.
    std::string text;
    char buffer[512];
    const int64_t deadline = NowMs() + 100;
    while (text.size() < kMaxRequestBytes) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        const int64_t left = deadline - NowMs();
        if (errno != EAGAIN || left <= 0)
            break;
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    close(fd);
    if (text.compare(0, 6, "raise\n") != 0)
        return false;
    size_t at = 6;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, 6, "token=") == 0 && IsToken(line.substr(6)))
            request.activationToken = line.substr(6);
        else if (line.compare(0, 8, "startup=") == 0 && IsToken(line.substr(8)))
            request.startupId = line.substr(8);
        at = end + 1;
    }
    return true;
}

bool SendRaiseRequest(const std::string& name, const RaiseRequest& request, std::string& error) {
    sockaddr_un address;
    std::string path;
    if (!SocketAddress(name, address, path)) {
        error = "no runtime folder for the channel";
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // A running copy that hangs must not hang this one.
    timeval timeout = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::string text = "raise\n";
    if (IsToken(request.activationToken))
        text += "token=" + request.activationToken + "\n";
    if (IsToken(request.startupId))
        text += "startup=" + request.startupId + "\n";
    bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!sent)
        error = path + ": " + std::strerror(errno);
    for (size_t done = 0; sent && done < text.size();) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::string("sending: ") + std::strerror(errno);
            sent = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    return sent;
}
