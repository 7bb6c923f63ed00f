// main() for tests that need a QApplication. Runs offscreen unless told otherwise.
#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <execinfo.h>
#include <unistd.h>

#include "test_support.h"

namespace {

// A crash inside a display server's client library otherwise leaves only
// "Segmentation fault" in a CI log: print the stack, then die as before.
void PrintStackAndDie(int sig) {
    void* frames[64];
    const int n = backtrace(frames, 64);
    static const char kHead[] = "\n*** fatal signal; stack:\n";
    [[maybe_unused]] ssize_t w = write(STDERR_FILENO, kHead, sizeof kHead - 1);
    backtrace_symbols_fd(frames, n, STDERR_FILENO);
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
    testsupport::ApplyTestEnvironment();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (The sanitizers print a better report of their own.)
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE})
        signal(sig, PrintStackAndDie);
#endif
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
