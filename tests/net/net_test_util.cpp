#include "net_test_util.h"

#include "test_support.h"

#include <chrono>
#include <cstring>
#include <random>
#include <strings.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nettest {

namespace {

// Starts `path` with `args` (argv[0] included), its stdout and stderr on the
// given descriptors (-1 leaves them). The child dies with the test, so a test
// that crashes or times out leaves no server behind.
pid_t SpawnChild(const std::string& path, std::vector<std::string> args, int outFd, int errFd) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    if (outFd >= 0)
        dup2(outFd, 1);
    if (errFd >= 0)
        dup2(errFd, 2);
    execv(path.c_str(), argv.data());
    _exit(127);
}

}  // namespace

LessonServer::LessonServer(const std::string& root, const std::string& uploads,
                           const std::vector<std::string>& options, const std::string& logPath) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    const int log = logPath.empty() ? -1 : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string program = testsupport::BinDir() + "/lesson-server";
    std::vector<std::string> args = {program, "--root", root, "--uploads", uploads};
    args.insert(args.end(), options.begin(), options.end());
    m_pid = SpawnChild(program, args, out[1], log);
    close(out[1]);
    if (log >= 0)
        close(log);
    if (m_pid < 0) {
        close(out[0]);
        return;
    }

    // The one line it prints once it takes connections.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (line.rfind(prefix, 0) != 0)
        return;
    m_port = std::atoi(line.c_str() + prefix.size());
    m_base = "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

LessonServer::~LessonServer() {
    if (m_pid > 0 && Stop(SIGTERM) == -1 && m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

int LessonServer::Stop(int signal, int waitMs) {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        usleep(10000);
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RawServer::RawServer(RawScript script) : m_script(std::move(script)) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listen, 8) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

RawServer::~RawServer() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        close(m_listen);
}

std::string RawServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}

bool RawServer::WaitRequest(RawRequest& out, int waitMs) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_requests.empty(); }))
        return false;
    out = m_requests.front();
    return true;
}

void RawServer::Serve() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        Handle(fd);
        close(fd);
    }
}

void RawServer::Handle(int fd) {
    // Reads what is there within the stop flag's reach; false on end or error.
    auto readSome = [&](std::string& into) {
        while (!m_stop) {
            pollfd p{fd, POLLIN, 0};
            const int r = poll(&p, 1, 20);
            if (r < 0)
                return false;
            if (r == 0)
                continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            into.append(buf, static_cast<size_t>(n));
            return true;
        }
        return false;
    };

    std::string data;
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!readSome(data))
            return;
    }
    RawRequest request;
    request.head = data.substr(0, headEnd + 4);
    const std::string lengthText = HeaderValue(request.head, "Content-Length");
    const size_t length = lengthText.empty() ? 0 : std::stoull(lengthText);
    request.body = data.substr(headEnd + 4);
    const size_t want =
        m_script.closeAfterBody >= 0 ? std::min(length, static_cast<size_t>(m_script.closeAfterBody)) : length;
    while (request.body.size() < want) {
        if (!readSome(request.body))
            break;
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    m_cv.notify_all();

    if (m_script.closeAfterBody >= 0) {
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return;
    }
    for (int waited = 0; waited < m_script.delayMs && !m_stop; waited += 10)
        usleep(10000);
    for (size_t sent = 0; sent < m_script.reply.size();) {
        const ssize_t n = send(fd, m_script.reply.data() + sent, m_script.reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
    if (m_script.keepOpen) {
        std::string ignored;
        while (!m_stop && readSome(ignored)) {
        }
        while (!m_stop)
            usleep(10000);
    }
}

std::string HeaderValue(const std::string& head, const std::string& name) {
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const size_t start = pos + 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string::npos)
            break;
        const std::string line = head.substr(start, end - start);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            size_t v = name.size() + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            return line.substr(v);
        }
        pos = end;
    }
    return "";
}

int HeaderCount(const std::string& head, const std::string& name) {
    int count = 0;
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        if (head.size() > pos + name.size() && head[pos + name.size()] == ':' &&
            strncasecmp(head.c_str() + pos, name.c_str(), name.size()) == 0)
            ++count;
    }
    return count;
}

std::string HttpReply(const std::string& body, int status) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string RawExchange(int port, const std::string& request, int waitMs) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            answer.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return answer;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    ProgramResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    const std::string path = testsupport::BinDir() + "/" + program;
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = SpawnChild(path, all, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    if (pid > 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        int open = 2;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (open > 0 && std::chrono::steady_clock::now() < deadline) {
            if (poll(fds, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buf[4096];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
                }
            }
        }
        if (open > 0)
            kill(pid, SIGKILL);  // hung: report it as killed
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(out[0]);
    close(err[0]);
    return result;
}

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args) {
    const std::string path = testsupport::BinDir() + "/" + program;
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    return SpawnChild(path, all, -1, -1);
}

int StoredCount(const std::string& logPath, const std::string& name) {
    const std::string log = testsupport::ReadFile(logPath);
    const std::string line = "lesson-server: stored " + name + " (";
    int count = 0;
    for (size_t pos = log.find(line); pos != std::string::npos; pos = log.find(line, pos + 1))
        ++count;
    return count;
}

int UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

std::string Pattern(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto& c : out)
        c = static_cast<char>(gen() & 0xff);
    return out;
}

}  // namespace nettest
