// Servers for the network tests: the lesson-server program run as a child
// process, and a raw socket server that records a request byte for byte and
// answers with scripted bytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace nettest {

constexpr char kUploadPath[] = "RozevaDevur_O2_Veve/sprec_upload2.asp";

// build/bin/lesson-server with the given options after --root and --uploads;
// its log goes to `logPath` when given, else to the test's stderr.
class LessonServer {
public:
    LessonServer(const std::string& root, const std::string& uploads, const std::vector<std::string>& options = {},
                 const std::string& logPath = "");
    ~LessonServer();
    LessonServer(const LessonServer&) = delete;
    LessonServer& operator=(const LessonServer&) = delete;

    bool started() const { return !m_base.empty(); }
    // "http://127.0.0.1:PORT/"
    const std::string& base() const { return m_base; }
    std::string UploadUrl() const { return m_base + kUploadPath; }
    int port() const { return m_port; }
    // Sends `signal` and waits for the exit; the exit status, or -1 when it
    // ended by a signal or did not end within `waitMs`.
    int Stop(int signal, int waitMs = 5000);

private:
    pid_t m_pid = -1;
    std::string m_base;
    int m_port = 0;
};

// What the raw server does with each connection.
struct RawScript {
    std::string reply;           // bytes sent back after the request was read
    long closeAfterBody = -1;    // >= 0: reset the connection after this many body bytes
    bool keepOpen = false;       // after the reply, hold the connection until the server goes
    int delayMs = 0;             // wait before replying
};

struct RawRequest {
    std::string head;  // request line and headers, up to and including the empty line
    std::string body;
};

class RawServer {
public:
    explicit RawServer(RawScript script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return m_port; }
    std::string Url(const std::string& path) const;
    // The first request read, waiting up to `waitMs` for it.
    bool WaitRequest(RawRequest& out, int waitMs = 10000);
    int connections() const { return m_connections; }

private:
    void Serve();
    void Handle(int fd);

    RawScript m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<RawRequest> m_requests;
    std::thread m_thread;
};

// Value of header `name` (case-insensitive) in a request head; "" when absent.
std::string HeaderValue(const std::string& head, const std::string& name);
// Number of times header `name` appears.
int HeaderCount(const std::string& head, const std::string& name);
// An HTTP/1.1 response with Content-Length and Connection: close.
std::string HttpReply(const std::string& body, int status = 200);

// Sends `request` as it stands to 127.0.0.1:port and returns all that comes
// back until the server closes (or `waitMs` passes).
std::string RawExchange(int port, const std::string& request, int waitMs = 5000);

struct ProgramResult {
    int status = -1;  // exit status, -1 when killed or not started
    std::string out;
    std::string err;
};
// Runs build/bin/<program> with `args`, capturing its output.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args);
// Starts build/bin/<program> with `args` and returns at once; its output goes
// to the test's. The caller waits for it (waitpid).
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args);

// How many uploads named `name` a lesson-server log reports stored.
int StoredCount(const std::string& logPath, const std::string& name);

// A port on which nothing listens (bound once, then released).
int UnusedPort();

// Bytes 0..n-1 of a fixed pseudo-random sequence.
std::string Pattern(size_t n, unsigned seed = 1);

}  // namespace nettest
