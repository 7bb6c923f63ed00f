// Fetch of one URL (http, https or file) into one local file, with progress
// reports and a pump that keeps a GUI alive while the transfer blocks.
#pragma once

#include <cstdint>
#include <string>

class IFetchProgress {
public:
    virtual ~IFetchProgress() = default;
    // statusCode kFetchBeginData once, when the first body bytes have arrived,
    // then kFetchData as more arrive. progress and maximum are in bytes; maximum
    // is 0 when the server does not state the size.
    virtual void OnProgress(uint64_t progress, uint64_t maximum, uint32_t statusCode) = 0;
    // Called at least every 50 ms for the whole transfer, also while connecting
    // or when nothing arrives. Returning false aborts the transfer.
    virtual bool Pump() { return true; }
};

constexpr uint32_t kFetchBeginData = 4;
constexpr uint32_t kFetchData = 5;

struct FetchOptions {
    // Name lookup and connection together.
    long connectTimeoutMs = 20000;
    // Nothing received (and nothing sent) for this long ends the transfer.
    long stallTimeoutMs = 30000;
};

// The URL as curl takes it: spaces and bytes from 0x80 (CP949 file names) after the
// host are written as %XX, which curl refuses or sends raw. Nothing else changes, so
// an address that is already encoded stays as it is.
std::string EncodeUrlForFetch(const std::string& url);

// Fetches `url` (through EncodeUrlForFetch) into `localPath`, never from a cache. On success the complete
// body is at `localPath`. On any failure (no such host, refused connection,
// HTTP status 400 or above, a write failure, a time-out, an abort from Pump)
// returns false, leaves no file at `localPath` and puts the reason in `error`.
// `progress` may be null.
bool FetchUrlToFile(const std::string& url, const std::string& localPath, IFetchProgress* progress,
                    std::string* error = nullptr);
bool FetchUrlToFile(const std::string& url, const std::string& localPath, IFetchProgress* progress,
                    const FetchOptions& options, std::string* error = nullptr);
