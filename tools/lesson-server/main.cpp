// lesson-server: a small stand-in for the lesson server, for tests and demos.
//
//   lesson-server --root DIR --uploads DIR [--port N] [--bind ADDR] [--reply TEXT]
//                 [--delay-ms N] [--close-mid-request] [--status N]
//                 [--chunked] [--mid-body-delay-ms N] [--reply-pause-ms N]
//                 [--max-upload-bytes N]
//
// Serves the files under --root over HTTP GET and takes the recording upload
// (a multipart POST with a file part "upload") at the upload script's path,
// storing the file under its own name in --uploads and answering "OK".
// Prints "listening on http://ADDR:PORT/" once it accepts connections; stops
// cleanly on SIGTERM or SIGINT.
//
// Fault modes for tests:
//   --reply TEXT          answer uploads with TEXT instead of "OK"
//   --delay-ms N          wait N ms before every answer
//   --close-mid-request   drop the connection halfway through an upload's body,
//                         or halfway through a file's body
//   --status N            answer every request with status N and no file (the
//                         body is --reply, else "ERROR"); uploads are not stored
//   --chunked             send files without a length (chunked)
//   --mid-body-delay-ms N pause N ms halfway through a file's body, and halfway
//                         through reading an upload's body
//   --reply-pause-ms N    answer a stored upload in two pieces N ms apart: the
//                         reply's first half, then the rest
//   --max-upload-bytes N  answer an upload whose body is longer than N bytes
//                         with 413 at once, before reading any of it, and close
//                         the connection
#include <httplib.h>

#include "diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char kUploadPath[] = "/RozevaDevur_O2_Veve/sprec_upload2.asp";
constexpr char kUploadField[] = "upload";

struct Config {
    std::string root;
    std::string uploads;
    int port = 0;
    std::string bind = "127.0.0.1";
    std::string reply = "OK";
    bool replyGiven = false;
    long delayMs = 0;
    bool closeMidRequest = false;
    int status = 0;
    bool chunked = false;
    long midBodyDelayMs = 0;
    long replyPauseMs = 0;
    long long maxUploadBytes = -1;
};

// Ends waits early when the server is told to stop.
class StopSignal {
public:
    void Raise() {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_cv.notify_all();
    }
    // Waits `ms` milliseconds; false when stopped meanwhile.
    bool Sleep(long ms) {
        std::unique_lock lock(m_mutex);
        return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopped; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopped = false;
};

StopSignal g_stop;

void Log(const std::string& text) {
    std::fprintf(stderr, "lesson-server: %s\n", text.c_str());
}

bool ParseLong(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

int Usage(const char* self, FILE* to = stderr) {
    std::fprintf(to,
                 "usage: %s --root DIR --uploads DIR [--port N] [--bind ADDR] [--reply TEXT]\n"
                 "       [--delay-ms N] [--close-mid-request] [--status N] [--chunked]\n"
                 "       [--mid-body-delay-ms N] [--reply-pause-ms N] [--max-upload-bytes N]\n"
                 "       %s --help (or -h)\n",
                 self, self);
    return 2;
}

bool ParseArgs(int argc, char** argv, Config& config) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool inlineValue = false;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
            inlineValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        long number = 0;
        if (name == "--close-mid-request" && !inlineValue) {
            config.closeMidRequest = true;
        } else if (name == "--chunked" && !inlineValue) {
            config.chunked = true;
        } else if (name == "--root") {
            if (!takeValue())
                return false;
            config.root = value;
        } else if (name == "--uploads") {
            if (!takeValue())
                return false;
            config.uploads = value;
        } else if (name == "--bind") {
            if (!takeValue())
                return false;
            config.bind = value;
        } else if (name == "--reply") {
            if (!takeValue())
                return false;
            config.reply = value;
            config.replyGiven = true;
        } else if (name == "--port") {
            if (!takeValue() || !ParseLong(value.c_str(), 0, 65535, number))
                return false;
            config.port = static_cast<int>(number);
        } else if (name == "--delay-ms") {
            if (!takeValue() || !ParseLong(value.c_str(), 0, 3600000, number))
                return false;
            config.delayMs = number;
        } else if (name == "--mid-body-delay-ms") {
            if (!takeValue() || !ParseLong(value.c_str(), 0, 3600000, number))
                return false;
            config.midBodyDelayMs = number;
        } else if (name == "--reply-pause-ms") {
            if (!takeValue() || !ParseLong(value.c_str(), 0, 3600000, number))
                return false;
            config.replyPauseMs = number;
        } else if (name == "--max-upload-bytes") {
            if (!takeValue() || !ParseLong(value.c_str(), 0, LONG_MAX, number))
                return false;
            config.maxUploadBytes = number;
        } else if (name == "--status") {
            if (!takeValue() || !ParseLong(value.c_str(), 200, 599, number))
                return false;
            config.status = static_cast<int>(number);
        } else {
            return false;
        }
    }
    return !config.root.empty() && !config.uploads.empty();
}

// The socket of the connection a request came on, found by its two ports:
// the HTTP library does not hand it out, and dropping a connection halfway is
// what the fault mode is for.
int FindConnectionSocket(int localPort, int remotePort) {
    auto portOf = [](const sockaddr_storage& a) -> int {
        if (a.ss_family == AF_INET)
            return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
        if (a.ss_family == AF_INET6)
            return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
        return -1;
    };
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir))
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0)
            continue;
        if (portOf(peer) == remotePort && (localPort < 0 || portOf(local) == localPort)) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Resets the connection: the peer sees it torn down, not ended.
void DropConnection(const httplib::Request& req) {
    const int fd = FindConnectionSocket(req.local_port, req.remote_port);
    if (fd < 0) {
        Log("cannot find the connection to drop");
        return;
    }
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    shutdown(fd, SHUT_RDWR);
}

// The upload's own file name without any folder part, or "" when it is not
// a name that can be stored safely.
std::string SafeUploadName(const std::string& given) {
    const size_t cut = given.find_last_of("/\\");
    std::string name = cut == std::string::npos ? given : given.substr(cut + 1);
    if (name.empty() || name == "." || name == "..")
        return "";
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f)
            return "";
    }
    return name;
}

// The file under the root that a request path names, or "" when there is none
// or it would lie outside the root.
std::string ResolveFile(const std::string& rootCanonical, const std::string& requestPath) {
    if (requestPath.empty() || requestPath[0] != '/' || requestPath.find('\0') != std::string::npos)
        return "";
    for (const auto& part : fs::path(requestPath)) {
        if (part == "..")
            return "";
    }
    std::error_code ec;
    const fs::path resolved = fs::canonical(fs::path(rootCanonical + requestPath), ec);
    if (ec)
        return "";
    // Symbolic links are followed, so check where the path really ends up.
    const std::string text = resolved.string();
    if (text.size() <= rootCanonical.size() || text.compare(0, rootCanonical.size(), rootCanonical) != 0 ||
        text[rootCanonical.size()] != '/')
        return "";
    if (!fs::is_regular_file(resolved, ec))
        return "";
    return text;
}

void ServeFile(const Config& config, const std::string& rootCanonical, const httplib::Request& req,
               httplib::Response& res) {
    if (config.delayMs > 0 && !g_stop.Sleep(config.delayMs))
        return;
    if (config.status) {
        res.status = config.status;
        res.set_content(config.replyGiven ? config.reply : "ERROR", "text/plain");
        return;
    }
    const std::string path = ResolveFile(rootCanonical, req.path);
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        res.status = 404;
        res.set_content("Not Found", "text/plain");
        return;
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    const size_t size = static_cast<size_t>(st.st_size);
    const size_t half = size / 2;
    res.status = 200;
    const bool closeMid = config.closeMidRequest;
    const long pauseMs = config.midBodyDelayMs;
    auto paused = std::make_shared<bool>(false);

    // Sends from `offset` on, stopping at the half way mark once for the fault modes.
    auto send = [file, size, half, closeMid, pauseMs, paused](size_t offset, httplib::DataSink& sink) -> bool {
        if (offset >= half && !*paused && (closeMid || pauseMs > 0)) {
            *paused = true;
            if (closeMid)
                return false;
            if (!g_stop.Sleep(pauseMs))
                return false;
        }
        const size_t end = offset < half && (closeMid || pauseMs > 0) ? half : size;
        std::vector<char> buffer(std::min<size_t>(64 * 1024, end - offset));
        const ssize_t n = ::pread(*file, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n <= 0)
            return false;
        return sink.write(buffer.data(), static_cast<size_t>(n));
    };
    if (config.chunked) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [send, size](size_t offset, httplib::DataSink& sink) {
                                             if (offset >= size) {
                                                 sink.done();
                                                 return true;
                                             }
                                             return send(offset, sink);
                                         });
    } else {
        res.set_content_provider(size, "application/octet-stream",
                                 [send](size_t offset, size_t, httplib::DataSink& sink) { return send(offset, sink); });
    }
}

// Answers on the connection itself before the request's body has been read, as
// servers do that refuse a body by its announced length, then ends our side and
// lingers a moment so that the client can read the answer before the close.
void AnswerTooLarge(const httplib::Request& req) {
    const int fd = FindConnectionSocket(req.local_port, req.remote_port);
    if (fd < 0) {
        Log("cannot find the connection to answer early");
        return;
    }
    const std::string text = "ERROR: too large";
    const std::string reply = "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
    for (size_t done = 0; done < reply.size();) {
        const ssize_t n = ::send(fd, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    g_stop.Sleep(500);
}

void TakeUpload(const Config& config, const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) {
    auto answer = [&](int status, const std::string& text) {
        res.status = status;
        res.set_content(text, "text/plain");
    };

    if (config.maxUploadBytes >= 0 &&
        std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) >
            static_cast<unsigned long long>(config.maxUploadBytes)) {
        AnswerTooLarge(req);
        res.status = 413;
        res.set_header("Connection", "close");
        return;
    }

    if (config.closeMidRequest) {
        // Read about half of the body, then tear the connection down.
        const size_t length = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        const size_t enough = std::max<size_t>(length / 2, 1);
        size_t got = 0;
        // The two-callback form: a multipart body cannot be read with one.
        reader([](const httplib::MultipartFormData&) { return true; },
               [&](const char*, size_t n) {
                   got += n;
                   return got < enough;
               });
        DropConnection(req);
        return;
    }

    // The body is streamed to a hidden file and renamed once complete, so a
    // broken upload never shows under the learner's file name.
    std::string storeName;
    std::string refusal;
    std::string tempPath;
    int fd = -1;
    bool seen = false;
    bool writeFailed = false;
    size_t stored = 0;
    // For --mid-body-delay-ms: the body bytes taken so far and where to pause.
    size_t taken = 0;
    const size_t half = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) / 2;
    bool paused = false;
    const bool read = reader(
        [&](const httplib::MultipartFormData& part) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
            if (part.name != kUploadField || seen)
                return true;
            seen = true;
            storeName = SafeUploadName(part.filename);
            if (storeName.empty()) {
                refusal = "unsafe file name";
                return true;
            }
            std::string pattern = config.uploads + "/.upload-XXXXXX";
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd < 0) {
                refusal = std::string("cannot store: ") + std::strerror(errno);
                return true;
            }
            tempPath = pattern;
            fchmod(fd, 0644);
            return true;
        },
        [&](const char* data, size_t n) {
            taken += n;
            if (config.midBodyDelayMs > 0 && !paused && taken >= half) {
                paused = true;
                if (!g_stop.Sleep(config.midBodyDelayMs))
                    return false;
            }
            if (fd < 0 || writeFailed)
                return true;
            for (size_t done = 0; done < n;) {
                const ssize_t w = ::write(fd, data + done, n - done);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0) {
                    writeFailed = true;
                    break;
                }
                done += static_cast<size_t>(w);
            }
            stored += n;
            return true;
        });
    if (fd >= 0 && ::close(fd) != 0)
        writeFailed = true;
    auto dropTemp = [&] {
        if (!tempPath.empty())
            ::unlink(tempPath.c_str());
    };

    if (config.delayMs > 0 && !g_stop.Sleep(config.delayMs)) {
        dropTemp();
        return;
    }
    if (config.status) {
        dropTemp();
        answer(config.status, config.replyGiven ? config.reply : "ERROR");
        return;
    }
    // Error texts never contain the two letters the player looks for.
    if (!read) {
        dropTemp();
        answer(400, "ERROR: unreadable request");
        return;
    }
    if (!seen) {
        answer(400, "ERROR: no upload part");
        return;
    }
    if (!refusal.empty() || writeFailed) {
        dropTemp();
        answer(refusal.empty() ? 500 : 400, "ERROR: " + (refusal.empty() ? std::string("cannot store") : refusal));
        return;
    }
    const std::string finalPath = config.uploads + "/" + storeName;
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        dropTemp();
        answer(500, "ERROR: cannot store");
        return;
    }
    Log("stored " + storeName + " (" + std::to_string(stored) + " bytes)");
    if (config.replyPauseMs > 0 && config.reply.size() >= 2) {
        const std::string reply = config.reply;
        const long pauseMs = config.replyPauseMs;
        res.status = 200;
        res.set_content_provider(reply.size(), "text/plain",
                                 [reply, pauseMs](size_t offset, size_t, httplib::DataSink& sink) {
                                     const size_t cut = reply.size() / 2;
                                     if (offset == 0)
                                         return sink.write(reply.data(), cut);
                                     if (!g_stop.Sleep(pauseMs))
                                         return false;
                                     return sink.write(reply.data() + offset, reply.size() - offset);
                                 });
        return;
    }
    answer(200, config.reply);
}

// ---- the demo portal at "/": every package in the root as launch links

constexpr size_t kMaxPortalLessons = 500;

std::string PercentEncode(const std::string& bytes, bool keepSlash) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
        if (more == 4 || i + more >= text.size())
            return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2)
                return false;
        i += more + 1;
    }
    return true;
}

// The address the page was asked for, as the learner's browser wrote it, so the
// links lead back here; anything but a plain host and port falls back to ours.
std::string PortalHost(const httplib::Request& req, const std::string& own) {
    const std::string host = req.get_header_value("Host");
    if (host.empty() || host.size() > 255)
        return own;
    for (char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':' && c != '[' && c != ']')
            return own;
    return host;
}

void ServePortal(const std::string& root, const std::string& host, httplib::Response& res) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(root.empty() ? "/" : root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".viz") == 0 && it->is_regular_file(ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    if (names.size() > kMaxPortalLessons)
        names.resize(kMaxPortalLessons);

    std::string page =
        "<!DOCTYPE html>\n<html lang=\"ko\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>체험 강좌</title>\n</head>\n<body>\n<h1>체험 강좌</h1>\n"
        "<p>체험 학습자 kim7 (반 C1)의 강좌입니다. 연습은 녹음하지 않고, 시험은 녹음하여 이 서버로 보냅니다.</p>\n<ul>\n";
    int index = 0;
    for (const std::string& name : names) {
        ++index;
        const std::string stem = name.substr(0, name.size() - 4);
        const std::string url = "http://" + host + "/" + PercentEncode(name, false);
        auto link = [&](const char* times) {
            return HtmlEscape(std::string("vorur-ozudiz://launch?url=") + PercentEncode(url, false) +
                              "&id=kim7&class=C1&tag1=A01&tag2=L03&tag3=" + PercentEncode(stem, false) +
                              "&times=" + times);
        };
        const std::string shown = HtmlEscape(IsUtf8(name) ? name : PercentEncode(name, false));
        const std::string n = std::to_string(index);
        page += "<li>" + shown + ": <a id=\"practice-" + n + "\" href=\"" + link("PRACTICE") + "\">연습</a> <a id=\"test-" +
                n + "\" href=\"" + link("1") + "\">시험</a></li>\n";
    }
    page += "</ul>\n</body>\n</html>\n";
    res.status = 200;
    res.set_content(page, "text/html; charset=utf-8");
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardFiles();
    Config config;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(argv[0], stdout);
        return 0;
    }
    if (!ParseArgs(argc, argv, config))
        return Usage(argv[0]);

    std::error_code ec;
    const fs::path rootCanonical = fs::canonical(config.root, ec);
    if (ec || !fs::is_directory(rootCanonical)) {
        Log("no such folder: " + config.root);
        return 1;
    }
    fs::create_directories(config.uploads, ec);
    if (!fs::is_directory(config.uploads, ec)) {
        Log("cannot use the uploads folder: " + config.uploads);
        return 1;
    }
    const std::string root = rootCanonical.string() == "/" ? "" : rootCanonical.string();

    // Signals are taken by sigwait below; every thread started from here on
    // inherits the blocked mask. A peer that goes away must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    httplib::Server server;
    // The library's default also sets SO_REUSEPORT, which would let a second
    // server share a busy port and split the connections between the two.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_payload_max_length(size_t(4) << 30);
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(30);
    server.set_write_timeout(30);
    std::string ownHost;
    server.Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        ServePortal(root, PortalHost(req, ownHost), res);
        Log(req.method + " " + req.path + " " + std::to_string(res.status));
    });
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        ServeFile(config, root, req, res);
        Log(req.method + " " + req.path + " " + std::to_string(res.status));
    });
    server.Post(kUploadPath,
                [&](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                    TakeUpload(config, req, res, reader);
                    Log(req.method + " " + req.path + " " + std::to_string(res.status));
                });

    int port = config.port;
    if (port == 0) {
        port = server.bind_to_any_port(config.bind);
        if (port < 0) {
            Log("cannot listen on " + config.bind);
            return 1;
        }
    } else if (!server.bind_to_port(config.bind, port)) {
        Log("cannot listen on " + config.bind + ":" + std::to_string(port));
        return 1;
    }
    const std::string host = config.bind.find(':') != std::string::npos ? "[" + config.bind + "]" : config.bind;
    ownHost = host + ":" + std::to_string(port);
    std::printf("listening on http://%s:%d/\n", host.c_str(), port);
    std::fflush(stdout);

    const pid_t self = getpid();
    std::atomic<bool> ended{false};
    std::thread serving([&] {
        server.listen_after_bind();
        ended = true;
        // Wake the main thread if the server ended by itself.
        kill(self, SIGUSR1);
    });
    int received = 0;
    sigwait(&signals, &received);
    g_stop.Raise();
    // A stop that comes before the accept loop has begun is ignored by the
    // library, so repeat it until the loop is gone.
    while (!ended) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    serving.join();
    return received == SIGUSR1 ? 1 : 0;
}
