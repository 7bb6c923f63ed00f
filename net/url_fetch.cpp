#include "url_fetch.h"

#include "percent_escape.h"

#include "curl_driver.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// One transfer: the file being written and what the progress receiver has seen.
struct FetchState {
    int fd = -1;
    CURL* easy = nullptr;
    IFetchProgress* progress = nullptr;
    netdetail::TickThrottle* pump = nullptr;
    uint64_t received = 0;
    bool begun = false;
    bool pumpStopped = false;
    std::string writeError;

    size_t Take(const char* bytes, size_t n) {
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, bytes + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                writeError = std::string("cannot write the file: ") + std::strerror(w < 0 ? errno : ENOSPC);
                return 0;
            }
            done += static_cast<size_t>(w);
        }
        received += n;
        if (progress) {
            curl_off_t total = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
            progress->OnProgress(received, total > 0 ? static_cast<uint64_t>(total) : 0,
                                 begun ? kFetchData : kFetchBeginData);
        }
        begun = true;
        // A file:// read runs in one curl step; keep the pump going from here too.
        if (!pump->Due()) {
            pumpStopped = true;
            return 0;
        }
        return n;
    }
};

size_t WriteCallback(char* data, size_t size, size_t items, void* user) {
    return static_cast<FetchState*>(user)->Take(data, size * items);
}

}  // namespace

std::string EncodeUrlForFetch(const std::string& url) {
    // The host is left alone: it is no place for such bytes, and curl judges it.
    size_t from = 0;
    size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        from = url.find('/', scheme + 3);
        if (from == std::string::npos)
            return url;
    }
    std::string out = url.substr(0, from);
    for (size_t i = from; i < url.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (c == ' ' || c >= 0x80) {
            AppendPercentEscaped(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool FetchUrlToFile(const std::string& url, const std::string& localPath, IFetchProgress* progress,
                    std::string* error) {
    return FetchUrlToFile(url, localPath, progress, FetchOptions{}, error);
}

bool FetchUrlToFile(const std::string& url, const std::string& localPath, IFetchProgress* progress,
                    const FetchOptions& options, std::string* error) {
    if (error)
        error->clear();
    // Whatever goes wrong, nothing is left under the final name: a stale or
    // partial file there would pass for a fetched package.
    auto fail = [&](const std::string& text) {
        ::unlink(localPath.c_str());
        if (error)
            *error = text;
        return false;
    };

    // The body goes to a file beside the target and takes its name only once
    // complete.
    std::vector<char> partName(localPath.begin(), localPath.end());
    const std::string suffix = ".part-XXXXXX";
    partName.insert(partName.end(), suffix.begin(), suffix.end());
    partName.push_back('\0');
    const int fd = ::mkostemp(partName.data(), O_CLOEXEC);
    if (fd < 0)
        return fail("cannot create " + localPath + ": " + std::strerror(errno));
    auto discard = [&](const std::string& text) {
        ::close(fd);
        ::unlink(partName.data());
        return fail(text);
    };

    netdetail::EnsureCurlGlobal();
    CURL* easy = curl_easy_init();
    if (!easy)
        return discard("cannot start a transfer");
    char curlError[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    netdetail::TickThrottle pump([progress] { return progress ? progress->Pump() : true; });
    FetchState state;
    state.fd = fd;
    state.easy = easy;
    state.progress = progress;
    state.pump = &pump;

    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // A server may send us elsewhere on the web, never into the local disk.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);

    netdetail::DriveResult drive;
    const std::string encoded = EncodeUrlForFetch(url);
    if (curl_easy_setopt(easy, CURLOPT_URL, encoded.c_str()) == CURLE_OK)
        drive = netdetail::DriveTransfer(easy, options.stallTimeoutMs, [&pump] { return pump.Due(); });
    else
        drive = {netdetail::DriveEnd::Finished, CURLE_URL_MALFORMAT};
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);

    if (state.pumpStopped || drive.end == netdetail::DriveEnd::Stopped)
        return discard("aborted");
    if (drive.end == netdetail::DriveEnd::Stalled)
        return discard("timed out: nothing received for " + std::to_string(options.stallTimeoutMs) + " ms");
    if (drive.end != netdetail::DriveEnd::Finished)
        return discard("transfer failed");
    if (drive.code != CURLE_OK) {
        if (!state.writeError.empty())
            return discard(state.writeError);
        if (drive.code == CURLE_HTTP_RETURNED_ERROR)
            return discard("HTTP status " + std::to_string(status));
        return discard(curlError[0] ? curlError : curl_easy_strerror(drive.code));
    }

    if (::close(fd) != 0) {
        const std::string text = std::string("cannot write the file: ") + std::strerror(errno);
        ::unlink(partName.data());
        return fail(text);
    }
    if (::rename(partName.data(), localPath.c_str()) != 0) {
        const std::string text = "cannot create " + localPath + ": " + std::strerror(errno);
        ::unlink(partName.data());
        return fail(text);
    }
    return true;
}
