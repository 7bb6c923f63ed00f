#include "curl_driver.h"

#include <mutex>

namespace netdetail {

void EnsureCurlGlobal() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

// Bytes moved so far in either direction, headers included.
curl_off_t MovedBytes(CURL* easy) {
    curl_off_t up = 0, down = 0;
    long headers = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    return up + down + headers;
}

}  // namespace

DriveResult DriveTransfer(CURL* easy, long stallMs, const std::function<bool()>& tick) {
    DriveResult result;
    CURLM* multi = curl_multi_init();
    if (!multi)
        return result;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return result;
    }

    using clock = std::chrono::steady_clock;
    auto lastMove = clock::now();
    curl_off_t moved = 0;

    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result.end = DriveEnd::Failed;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                result.end = DriveEnd::Finished;
                result.code = msg->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (!running) {
            // Ended without a completion message: should not happen; count as failure.
            result.end = DriveEnd::Failed;
            break;
        }
        if (tick && !tick()) {
            result.end = DriveEnd::Stopped;
            break;
        }
        const auto now = clock::now();
        const curl_off_t nowMoved = MovedBytes(easy);
        if (nowMoved != moved) {
            moved = nowMoved;
            lastMove = now;
        } else if (stallMs > 0 && now - lastMove >= std::chrono::milliseconds(stallMs)) {
            result.end = DriveEnd::Stalled;
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(kPollWait.count()), nullptr) != CURLM_OK) {
            result.end = DriveEnd::Failed;
            break;
        }
    }

    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    return result;
}

bool TickThrottle::Due() {
    if (std::chrono::steady_clock::now() - m_last < kThrottlePeriod)
        return true;
    return Now();
}

bool TickThrottle::Now() {
    m_last = std::chrono::steady_clock::now();
    return m_fn ? m_fn() : true;
}

}  // namespace netdetail
