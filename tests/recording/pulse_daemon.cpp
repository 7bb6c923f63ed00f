#include "pulse_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

bool PrivatePulseDaemon::Start(std::string& why) {
    std::string runtime = m_dir.file("runtime");
    ::mkdir(runtime.c_str(), 0700);
    std::string socket = m_dir.file("native");
    std::string log = m_dir.file("daemon.log");
    std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=120",
        "--use-pid-file=no",
        "--disable-shm=yes",
        "--log-target=stderr",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
        "-L",
        "module-null-sink sink_name=vorur_out rate=44100 sink_properties=device.description=Vorur_Out",
        "-L",
        "module-pipe-source source_name=vorur_mic file=" + MicFifo() +
            " format=s16le rate=44100 channels=2 source_properties=device.description=Vorur_Mic",
        "-L",
        "module-pipe-source source_name=vorur_headset file=" + HeadsetFifo() +
            " format=s16le rate=44100 channels=2 source_properties=device.description=Vorur_Headset",
    };
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        // The daemon dies with the test, whatever way the test ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        setenv("HOME", m_dir.path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (runtime + "/pulse").c_str(), 1);
        setenv("PULSE_STATE_PATH", m_dir.file("state").c_str(), 1);
        unsetenv("PULSE_SERVER");
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp("pulseaudio", argv.data());
        _exit(127);
    }
    m_pid = pid;

    // Clients of this process reach the private daemon only.
    setenv("PULSE_SERVER", Server().c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", "/dev/null", 1);
    setenv("PULSE_COOKIE", m_dir.file("cookie").c_str(), 1);

    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            why = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "pulseaudio is not installed"
                                                                   : "pulseaudio exited: " + testsupport::ReadFile(log);
            return false;
        }
        if (testsupport::Exists(socket) && !Pactl("info").empty()) {
            // The desktop's choice, not the first source listed.
            Pactl("set-default-source vorur_headset");
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "pulseaudio did not answer within 5 s: " + testsupport::ReadFile(log);
    Stop();
    return false;
}

void PrivatePulseDaemon::Signal(int sig) const {
    if (m_pid > 0)
        kill(m_pid, sig);
}

void PrivatePulseDaemon::Stop() {
    if (m_pid <= 0)
        return;
    // A daemon that was made to hang must take the request to end.
    kill(m_pid, SIGCONT);
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string PrivatePulseDaemon::Pactl(const std::string& args) const {
    std::string cmd = "PULSE_SERVER='" + Server() + "' pactl " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "";
    std::string out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    return pclose(p) == 0 ? out : "";
}

std::string PrivatePulseDaemon::DefaultSource() const {
    std::string out = Pactl("get-default-source");
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}
