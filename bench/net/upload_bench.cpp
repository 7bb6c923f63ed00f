// Upload of a 20 MB recording to lesson-server on loopback: UploadFile beside
// `curl -F` sending the same file to the same server in the same run.
// Prints the medians and their ratio; the target is at most 1.1.
#include "http_file_up.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFileSize = 20 * 1024 * 1024;
constexpr int kRounds = 7;
constexpr char kName[] = "A01_L03_D5_SP_kim7.mp3";

pid_t Spawn(std::vector<std::string> args, int outFd) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path work = fs::temp_directory_path() / ("vorur-upload-bench-" + std::to_string(getpid()));
    fs::create_directories(work / "root");
    const std::string file = (work / "recording.mp3").string();
    {
        std::vector<char> bytes(kFileSize);
        std::mt19937 gen(42);
        for (auto& b : bytes)
            b = static_cast<char>(gen());
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return 1;
    const pid_t server = Spawn({(bin / "lesson-server").string(), "--root", (work / "root").string(), "--uploads",
                                (work / "uploads").string()},
                               pipeFds[1]);
    close(pipeFds[1]);
    std::string line;
    char c;
    while (server > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(pipeFds[0]);
    const std::string prefix = "listening on ";
    if (server <= 0 || line.rfind(prefix, 0) != 0) {
        std::fprintf(stderr, "cannot start lesson-server from %s\n", bin.c_str());
        return 1;
    }
    const std::string url = line.substr(prefix.size()) + "RozevaDevur_O2_Veve/sprec_upload2.asp";
    const fs::path stored = work / "uploads" / kName;

    auto ours = [&]() -> double {
        std::string reply;
        const auto start = Clock::now();
        const int ok = UploadFile(url, kName, file, reply);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!ok || reply != "OK" || fs::file_size(stored) != kFileSize) {
            std::fprintf(stderr, "UploadFile failed (reply \"%s\")\n", reply.c_str());
            std::exit(1);
        }
        return ms;
    };
    auto anchor = [&]() -> double {
        const int devnull = open("/dev/null", O_WRONLY);
        const auto start = Clock::now();
        const pid_t pid = Spawn({"curl", "-s", "-F", std::string("upload=@") + file + ";filename=" + kName, url}, devnull);
        int status = 0;
        waitpid(pid, &status, 0);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        close(devnull);
        if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || fs::file_size(stored) != kFileSize) {
            std::fprintf(stderr, "curl -F failed\n");
            std::exit(1);
        }
        return ms;
    };

    ours();
    anchor();
    std::vector<double> oursMs, curlMs;
    for (int i = 0; i < kRounds; ++i) {
        // Alternate the order so neither side always meets a warm or a cold cache.
        if (i % 2) {
            curlMs.push_back(anchor());
            oursMs.push_back(ours());
        } else {
            oursMs.push_back(ours());
            curlMs.push_back(anchor());
        }
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    fs::remove_all(work);

    const double a = Median(oursMs), b = Median(curlMs);
    std::printf("upload of 20 MB to lesson-server on loopback, median of %d rounds\n", kRounds);
    std::printf("  UploadFile   %8.1f ms\n", a);
    std::printf("  curl -F      %8.1f ms\n", b);
    std::printf("  ratio        %8.2f  (target <= 1.10) %s\n", a / b, a / b <= 1.10 ? "met" : "NOT MET");
    return 0;
}
