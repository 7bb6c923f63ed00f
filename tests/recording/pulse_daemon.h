// A private PulseAudio daemon for tests: its own runtime folder and socket, a null
// sink "vorur_out" (with its monitor) and two pipe sources, "vorur_mic" listed first
// and "vorur_headset", which is the default source. It never
// touches a user's daemon, and it is killed when the object goes away or the test
// process dies.
#pragma once

#include <sys/types.h>

#include <string>

#include "test_support.h"

class PrivatePulseDaemon {
public:
    PrivatePulseDaemon() = default;
    ~PrivatePulseDaemon() { Stop(); }
    PrivatePulseDaemon(const PrivatePulseDaemon&) = delete;
    PrivatePulseDaemon& operator=(const PrivatePulseDaemon&) = delete;

    // Starts the daemon and points this process's clients at it (PULSE_SERVER and
    // friends). False with the reason when it cannot start.
    bool Start(std::string& why);
    void Stop();
    // Sends a signal to the daemon (SIGSTOP makes it hang, SIGCONT goes on).
    void Signal(int sig) const;

    // Runs pactl against the daemon; its standard output, or "" on failure.
    std::string Pactl(const std::string& args) const;
    // The daemon's default source.
    std::string DefaultSource() const;

    // The FIFOs the pipe sources read their sound from.
    std::string MicFifo() const { return m_dir.file("mic.fifo"); }
    std::string HeadsetFifo() const { return m_dir.file("headset.fifo"); }
    std::string Server() const { return "unix:" + m_dir.file("native"); }

private:
    testsupport::TempDir m_dir;
    pid_t m_pid = -1;
};
