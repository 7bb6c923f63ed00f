// Runs one libcurl easy transfer to its end on the calling thread, giving the
// caller a regular turn so that a GUI can keep painting and stalled peers are
// dropped. Shared by the upload and the package fetch; not a public interface.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace netdetail {

// curl_global_init, once per process, before the first handle.
void EnsureCurlGlobal();

// Longest wait for socket activity between two turns of the caller's tick; the
// turns come at least this often plus the time of one curl step.
constexpr std::chrono::milliseconds kPollWait{20};
// Spacing of throttled calls (see TickThrottle): often enough that a GUI pumped
// from them never waits 50 ms, rarely enough not to cost during fast transfers.
constexpr std::chrono::milliseconds kThrottlePeriod{15};

enum class DriveEnd {
    Finished,  // curl finished the transfer; see code
    Stopped,   // the tick asked to stop
    Stalled,   // no byte moved for stallMs
    Failed,    // the multi interface itself failed
};

struct DriveResult {
    DriveEnd end = DriveEnd::Failed;
    CURLcode code = CURLE_OK;
};

// Drives `easy` (fully set up, not yet started) until it ends. `tick` is called
// after every curl step, at least every kPollWait; returning false stops the
// transfer.
// A transfer in which no byte goes up or down for `stallMs` milliseconds is
// stopped as stalled (stallMs <= 0 disables that).
DriveResult DriveTransfer(CURL* easy, long stallMs, const std::function<bool()>& tick);

// Calls `fn` when at least kThrottlePeriod has passed since the last call; used
// from the tick and from inside curl callbacks, where one step of curl can take
// long (file:// reads a whole file in one step).
class TickThrottle {
public:
    explicit TickThrottle(std::function<bool()> fn) : m_fn(std::move(fn)) {}
    // Returns what `fn` returned, or true when it was not due.
    bool Due();
    // Always calls `fn`.
    bool Now();

private:
    std::function<bool()> m_fn;
    std::chrono::steady_clock::time_point m_last{};
};

}  // namespace netdetail
