#include "diagnostics.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

std::string ProgramName() {
    const char* name = program_invocation_short_name;
    return name && *name ? name : "Vorur_Ozudiz";
}

namespace {

void AppendOneLine(std::string& line, std::string_view text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        line += b < 0x20 || b == 0x7f ? ' ' : c;
    }
}

// A launcher that closed its end of our stderr pipe must not kill the player
// with SIGPIPE: the signal is held back for this write and a pending one taken.
void WriteToStderr(const std::string& line) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    size_t done = 0;
    bool broken = false;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            broken = n < 0 && errno == EPIPE;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (broken && !sigismember(&previous, SIGPIPE)) {
        const timespec now = {0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

void Diagnose(std::string_view what, std::string_view detail) {
    const int savedErrno = errno;
    std::string line = ProgramName() + ": ";
    AppendOneLine(line, what);
    if (!detail.empty()) {
        line += ": ";
        AppendOneLine(line, detail);
    }
    line += '\n';
    WriteToStderr(line);
    errno = savedErrno;
}

void OpenClosedStandardFiles() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is fd itself: those below it are open by now.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            ::close(opened);
        }
    }
}
