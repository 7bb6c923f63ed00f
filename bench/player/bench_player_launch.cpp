// The player as a launcher starts it, beside the anchor (bench_anchor_window, a
// minimal Qt program showing an 800 x 600 window), in the same run on a private
// X server (Xvfb):
//   startup: exec -> main window mapped, the download of the lesson from a local
//            lesson-server included, for a lesson whose picture is stored at the
//            size it is shown at and for one with a 3000 x 2000 picture; target: at
//            most 2 x the anchor + 10 ms.
//   memory:  private memory (USS, /proc/PID/smaps_rollup) with the lesson open;
//            target: at most the anchor's + 8 MB; and what a 3000 x 2000 page
//            picture costs beyond one of the size it is shown at.
//   bench_player_launch startup|memory [runs]
#include "../bench_util.h"
#include "page_jpeg.h"
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cfg_file.h"
#include "package_writer.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

using bench::Median;

// A one-page lesson whose picture is w x h.
bool MakeLesson(const std::string& path, const std::string& sound, int w, int h) {
    CCfgFile cfg;
    cfg.packs.RemoveAll();
    auto* pack = new CCfgPack;
    pack->soundFile = fs::path(sound).filename();
    pack->pictureFile = "page.jpg";
    pack->questionText = "What color is the sky at noon on a clear day?";
    pack->answerText = "It is blue.";
    pack->waitSeconds = 3;
    pack->fontSize = 20;
    cfg.packs.Add(pack);
    std::string error;
    if (!WritePackage(path, cfg,
                      {PackageFile::FromBytes("page.jpg", PageJpegBytes(w, h)),
                       PackageFile::FromPath(fs::path(sound).filename(), sound)},
                      &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return false;
    }
    return true;
}

// Starts `argv` with its output in `log`; the child's pid.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Private memory of a process in kB: `uss` as /proc counts it (pages no other
// process maps), and `own` without the clean pages of files (library code and
// data, the executable) that no other process happens to map at the moment: those
// are shared as soon as another program uses the same library, so `uss` moves with
// whatever else runs on the machine, `own` does not.
struct Private {
    long uss = 0, own = 0;
};

Private PrivateMemory(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    Private p;
    bool file = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first.find('-') != std::string::npos && first.back() != ':') {
            // A mapping's header: address perms offset dev inode [path]
            std::string perms, offset, dev, inode, path;
            fields >> perms >> offset >> dev >> inode >> path;
            file = !path.empty() && path[0] == '/';
            continue;
        }
        long value = 0;
        if (!(fields >> value))
            continue;
        if (first == "Private_Clean:") {
            p.uss += value;
            if (!file)
                p.own += value;
        } else if (first == "Private_Dirty:") {
            p.uss += value;
            p.own += value;
        }
    }
    return p;
}

class XServer {
public:
    bool Start() {
        Stop(m_pid);
        m_pid = -1;
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        ssize_t n = 0;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 10000) > 0)
            n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        if (n <= 0)
            return false;
        m_display.assign(1, ':').append(buf, std::strcspn(buf, "\n"));
        setenv("DISPLAY", m_display.c_str(), 1);
        m_conn = xcb_connect(m_display.c_str(), nullptr);
        if (xcb_connection_has_error(m_conn))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
        uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_conn);
        return true;
    }
    ~XServer() {
        if (m_conn)
            xcb_disconnect(m_conn);
        Stop(m_pid);
    }

    // Waits until a top-level window titled `title` is mapped; false on timeout.
    bool WaitMapped(const std::string& title, Clock::time_point deadline) {
        const int fd = xcb_get_file_descriptor(m_conn);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
                bool found = false;
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                    found = Title(reinterpret_cast<xcb_map_notify_event_t*>(event)->window) == title;
                free(event);
                if (found)
                    return true;
            }
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 5);
        }
        return false;
    }

private:
    std::string Title(xcb_window_t window) {
        auto cookie = xcb_get_property(m_conn, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(m_conn, cookie, nullptr);
        std::string title;
        if (reply) {
            title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         xcb_get_property_value_length(reply));
            free(reply);
        }
        return title;
    }

    pid_t m_pid = -1;
    std::string m_display;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "startup";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : (mode == "startup" ? 11 : 5);
    if (mode != "startup" && mode != "memory") {
        std::fprintf(stderr, "usage: bench_player_launch startup|memory [runs]\n");
        return 2;
    }
    const std::string bin = fs::canonical("/proc/self/exe").parent_path();
    const std::string work = fs::temp_directory_path() / ("vorur-bench-launch-" + std::to_string(getpid()));
    fs::remove_all(work);
    for (const char* dir : {"home", "runtime", "config/Dazuzor", "data", "lessons", "uploads"})
        fs::create_directories(work + "/" + dir);
    fs::permissions(work + "/runtime", fs::perms::owner_all);
    setenv("HOME", (work + "/home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (work + "/runtime").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    setenv("VORUR_DATA_DIR", (work + "/data").c_str(), 1);
    setenv("VORUR_MIXER", "sim", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");

    // The lessons: a 3000 x 2000 page picture, and one of the size it is shown at.
    std::string sound = work + "/page.mp3";
    if (std::system(("sox -n -r 44100 -c 2 '" + sound + "' synth 5 sine 440 2>/dev/null").c_str()) != 0) {
        sound = work + "/page.wav";
        if (std::system(("sox -n -r 44100 -c 2 '" + sound + "' synth 5 sine 440").c_str()) != 0) {
            std::fprintf(stderr, "bench: sox cannot make the page sound\n");
            return 1;
        }
    }
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int qargc = 1;
        QGuiApplication app(qargc, argv);
        if (!MakeLesson(work + "/lessons/big.viz", sound, 3000, 2000) ||
            !MakeLesson(work + "/lessons/shown.viz", sound, 796, 531))
            return 1;
        unsetenv("QT_QPA_PLATFORM");
    }

    XServer x;
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt)
        started = x.Start();  // a display number taken meanwhile by another server fails the start
    if (!started) {
        std::fprintf(stderr, "bench: cannot start Xvfb\n");
        return 1;
    }
    const std::string serverLog = work + "/server.log";
    pid_t server = Spawn({bin + "/lesson-server", "--root", work + "/lessons", "--uploads", work + "/uploads",
                          "--port", "0"},
                         serverLog);
    std::string url;
    for (int i = 0; i < 200 && url.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        std::ifstream in(serverLog);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("listening on ", 0) == 0)
                url = line.substr(13);
    }
    if (url.empty()) {
        std::fprintf(stderr, "bench: lesson-server did not start\n");
        Stop(server);
        return 1;
    }
    {
        std::ofstream conf(work + "/config/Dazuzor/Vorur_Ozudiz2.conf");
        std::string host = url.rfind("http://", 0) == 0 ? url.substr(7) : url;
        if (!host.empty() && host.back() == '/')
            host.pop_back();
        conf << "[General]\nUploadHost=" << host << "\n";
    }

    auto player = [&](const std::string& lesson) {
        return std::vector<std::string>{bin + "/Vorur_Ozudiz", url + lesson, "bench", "C1", "A01", "L01", "D1",
                                        "PRACTICE"};
    };
    const std::vector<std::string> anchor{bin + "/bench_anchor_window"};

    bool failed = false;
    // Starts `args`, waits for its window; the time it took in ms, or -1.
    auto launch = [&](const std::vector<std::string>& args, const std::string& title, pid_t* keep) {
        const auto start = Clock::now();
        pid_t pid = Spawn(args, work + "/run.log");
        const bool mapped = x.WaitMapped(title, start + std::chrono::seconds(20));
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (keep && mapped)
            *keep = pid;
        else
            Stop(pid);
        if (!mapped) {
            failed = true;
            std::fprintf(stderr, "bench: no window \"%s\" from %s\n", title.c_str(), args[0].c_str());
            std::ifstream log(work + "/run.log");
            std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(log), {}).c_str());
        }
        return mapped ? ms : -1;
    };

    if (mode == "startup") {
        // Two lessons: one whose picture is stored at the size it is shown at, and
        // one with a 3000 x 2000 picture, whose decode alone is some milliseconds.
        std::vector<double> shown, big, base;
        launch(anchor, "bench_anchor_window", nullptr);  // warms the caches of both
        launch(player("shown.viz"), "Vorur_Ozudiz", nullptr);
        launch(player("big.viz"), "Vorur_Ozudiz", nullptr);
        for (int i = 0; i < runs; ++i) {
            base.push_back(launch(anchor, "bench_anchor_window", nullptr));
            shown.push_back(launch(player("shown.viz"), "Vorur_Ozudiz", nullptr));
            big.push_back(launch(player("big.viz"), "Vorur_Ozudiz", nullptr));
        }
        const double a = Median(base), limit = 2 * a + 10;
        std::printf("%-62s %9s %10s %7s %16s\n", "exec -> main window mapped, download included (median)", "ours ms",
                    "anchor ms", "ratio", "target");
        auto row = [&](const char* what, double o) {
            std::printf("%-62s %9.1f %10.1f %7.2f %9s%5.1f ms %s\n", what, o, a, o / a, "<= 2a+10 =", limit,
                        o <= limit ? "met" : "NOT MET");
        };
        row("lesson whose 796 x 531 picture is shown as stored", Median(shown));
        row("lesson with a 3000 x 2000 picture", Median(big));
    } else {
        std::vector<double> ours, shown, base, oursOwn, shownOwn, baseOwn;
        auto settled = [&](const std::vector<std::string>& args, const std::string& title, std::vector<double>& uss,
                           std::vector<double>& own) {
            pid_t pid = -1;
            if (launch(args, title, &pid) < 0)
                return;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            const Private p = PrivateMemory(pid);
            Stop(pid);
            uss.push_back(p.uss / 1024.0);
            own.push_back(p.own / 1024.0);
        };
        for (int i = 0; i < runs; ++i) {
            settled(anchor, "bench_anchor_window", base, baseOwn);
            settled(player("big.viz"), "Vorur_Ozudiz", ours, oursOwn);
            settled(player("shown.viz"), "Vorur_Ozudiz", shown, shownOwn);
        }
        auto row = [](const char* what, double o, double a) {
            std::printf("%-62s %8.1f %10.1f %+8.1f %12s %s\n", what, o, a, o - a, "<= a + 8 MB",
                        o <= a + 8 ? "met" : "NOT MET");
        };
        std::printf("%-62s %8s %10s %8s %12s\n", "measure (median), 2 s after mapping", "ours MB", "anchor MB",
                    "ours-a", "target");
        row("USS, lesson open on a 3000 x 2000 page", Median(ours), Median(base));
        row("the same, the clean pages of libraries counted as shared", Median(oursOwn), Median(baseOwn));
        const double cost = Median(oursOwn) - Median(shownOwn);
        std::printf("%-62s %8.2f %10s %8s %12s %s\n", "what the 3000 x 2000 picture costs beyond one of 796 x 531",
                    cost, "", "", "<= 0.5 MB", cost <= 0.5 ? "met" : "NOT MET");
        std::printf("(one copy at the shown size is %.2f MB; at full size it would be %.1f MB)\n",
                    796.0 * 531 * 4 / (1024 * 1024), 3000.0 * 2000 * 4 / (1024 * 1024));
    }
    Stop(server);
    fs::remove_all(work);
    return failed ? 1 : 0;  // a target missed is printed, not an error
}
