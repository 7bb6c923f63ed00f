#include "http_file_up.h"

#include "curl_driver.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The boundary token is what the lesson server's script has always been sent;
// keep every byte of these texts as they are.
constexpr char kUserAgent[] = "HttpFileUp";
constexpr char kAcceptTypes[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
    "application/vnd.ms-excel, application/msword, */*";
constexpr char kAcceptLanguage[] = "Accept-Language: ko";
constexpr char kContentType[] = "Content-Type: multipart/form-data; boundary=---------------------------7d16d3Dorev";
constexpr char kAcceptEncoding[] = "Accept-Encoding: gzip, deflate";
constexpr char kPartHeadBegin[] = "-----------------------------7d16d3Dorev\r\nContent-Disposition: form-data; name=\"";
constexpr char kPartHeadMiddle[] = "\"; filename=\"";
constexpr char kPartHeadEnd[] = "\"\r\nContent-Type: image/jpeg\r\n\r\n";
constexpr char kTrailer[] = "\r\n-----------------------------7d16d3Dorev--\r\n";
constexpr size_t kTrailerLength = sizeof(kTrailer) - 1;
// The part header once had a buffer of 1024 bytes with its NUL.
constexpr size_t kPartHeadMax = 1023;

static_assert(sizeof(kContentType) - 1 == 82);
static_assert(kTrailerLength == 46);
static_assert(sizeof(kPartHeadBegin) - 1 + sizeof(kPartHeadMiddle) - 1 + sizeof(kPartHeadEnd) - 1 == 124);
static_assert(kPartHeadMax - 124 == CKtHttpFileUp::kMaxNamesLength);

bool HasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7f;
    });
}

// Reads a port the way the C library's atoi does (white space, a sign, the
// leading digits; none gives 0), but saturating instead of overflowing.
long ParsePort(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long>(value * 10 + (text[i] - '0'), 1000000);
    return negative ? -value : value;
}

// The path goes to the server as given; only bytes that cannot stand in a
// request line are escaped.
std::string EscapePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (b == ' ' || b == '#' || b >= 0x80) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

size_t ReadBodyCallback(char* buffer, size_t size, size_t items, void* user);
size_t ReadReplyCallback(char* data, size_t size, size_t items, void* user);

}  // namespace

// One POST in flight: the curl handle with its headers, the body being fed to
// it and the reply being taken from it.
struct CKtHttpRequest {
    explicit CKtHttpRequest(CKtHttpFileUp* owner) : owner(owner) {}
    ~CKtHttpRequest() {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }

    CKtHttpFileUp* owner;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char curlError[CURL_ERROR_SIZE] = {};

    // Body: part header, file bytes, trailer.
    std::string partHeader;
    const unsigned char* data = nullptr;
    size_t length = 0;
    size_t headerSent = 0;
    size_t fileSent = 0;
    size_t trailerSent = 0;
    bool abandoned = false;

    // Reply.
    std::string reply;
    bool replyDone = false;  // read ended on purpose: the reply buffer is full
    bool replyRead = false;  // the reply read gave a result, possibly empty

    // Limits of the exchange, checked between curl steps.
    curl_off_t bodyTotal = 0;
    curl_off_t lastUploaded = -1;
    std::chrono::steady_clock::time_point lastUploadAt = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point bodySentAt{};
    bool stalled = false;       // the body stopped going out
    bool replyTimedOut = false; // the whole body went out, the reply did not end in time
    bool stopped = false;       // the owner's stop flag was raised

    size_t Feed(char* buffer, size_t room) {
        if (headerSent < partHeader.size()) {
            const size_t n = std::min(room, partHeader.size() - headerSent);
            std::memcpy(buffer, partHeader.data() + headerSent, n);
            headerSent += n;
            if (headerSent == partHeader.size())
                owner->OnSendBegin(length);
            return n;
        }
        if (fileSent < length) {
            const size_t chunkSize = static_cast<size_t>(std::max<int32_t>(owner->m_nChunkSize, 1));
            const size_t n = std::min({chunkSize, length - fileSent, room});
            std::memcpy(buffer, data + fileSent, n);
            fileSent += n;
            if (!owner->OnSendProgress(fileSent, length)) {
                abandoned = true;
                return CURL_READFUNC_ABORT;
            }
            return n;
        }
        const size_t n = std::min(room, kTrailerLength - trailerSent);
        std::memcpy(buffer, kTrailer + trailerSent, n);
        trailerSent += n;
        return n;
    }

    size_t Take(const char* bytes, size_t n) {
        const size_t take = std::min(n, CKtHttpFileUp::kReplyMax - reply.size());
        reply.append(bytes, take);
        if (reply.size() >= CKtHttpFileUp::kReplyMax) {
            // One bounded read: what lies beyond is not wanted, stop the transfer.
            replyDone = true;
            return 0;
        }
        return n;
    }

    // Between curl steps. While the body goes out, a peer that takes nothing for
    // the stall time is gone. Once it is out, the server may take long to store a
    // recording before it answers, and may answer in pieces: only the overall
    // reply limit ends the wait, never a pause.
    bool Tick() {
        if (owner->m_pStop && owner->m_pStop->load()) {
            stopped = true;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        curl_off_t uploaded = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        if (uploaded < bodyTotal) {
            if (uploaded != lastUploaded) {
                lastUploaded = uploaded;
                lastUploadAt = now;
            } else if (owner->m_nStallTimeoutMs > 0 &&
                       now - lastUploadAt >= std::chrono::milliseconds(owner->m_nStallTimeoutMs)) {
                stalled = true;
                return false;
            }
            return true;
        }
        if (bodySentAt == std::chrono::steady_clock::time_point{})
            bodySentAt = now;
        if (now - bodySentAt >= std::chrono::milliseconds(owner->m_nReplyTimeoutMs)) {
            replyTimedOut = true;
            return false;
        }
        return true;
    }
};

namespace {

size_t ReadBodyCallback(char* buffer, size_t size, size_t items, void* user) {
    return static_cast<CKtHttpRequest*>(user)->Feed(buffer, size * items);
}

size_t ReadReplyCallback(char* data, size_t size, size_t items, void* user) {
    return static_cast<CKtHttpRequest*>(user)->Take(data, size * items);
}

}  // namespace

CKtHttpFileUp::CKtHttpFileUp() : m_nChunkSize(4096) {}

CKtHttpFileUp::~CKtHttpFileUp() = default;

void CKtHttpFileUp::OnSendBegin(size_t) {}

bool CKtHttpFileUp::OnSendProgress(size_t, size_t) { return true; }

void CKtHttpFileUp::OnSendEnd(size_t) {}

bool CKtHttpFileUp::NamesFit(const std::string& fieldName, const std::string& fileName) {
    if (fieldName.size() + fileName.size() > kMaxNamesLength)
        return false;
    // A quote or line break would end the part header early and let the name
    // write lines of its own into the body.
    for (const std::string* name : {&fieldName, &fileName}) {
        if (HasControl(*name) || name->find('"') != std::string::npos)
            return false;
    }
    return true;
}

int CKtHttpFileUp::PostFile(const unsigned char* data, size_t length, const std::string& url,
                            const std::string& fieldName, const std::string& fileName, std::string& reply) {
    m_strError.clear();
    m_strReason.clear();
    m_nEarlyStatus = 0;
    // Cleared once the URL has been taken apart and a request is made.
    m_bNotReached = true;

    // Take the URL apart: optional "http://", host up to the first "/", the rest
    // is the path; ":port" ends the host.
    std::string rest = url;
    if (rest.size() >= 7 && strncasecmp(rest.c_str(), "http://", 7) == 0)
        rest.erase(0, 7);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        m_strError = "Invalid server url";
        return 0;
    }
    std::string host = rest.substr(0, slash);
    const std::string path = rest.substr(slash + 1);
    long port = 80;
    if (const size_t colon = host.find(':'); colon != std::string::npos) {
        port = ParsePort(host.substr(colon + 1));
        host.erase(colon);
        if (port < 1) {
            m_strReason = "invalid port in the server url";
            return 0;
        }
        // A 16-bit port field would wrap this into some other port: refuse it.
        if (port > 65535) {
            m_strReason = "port out of range in the server url";
            return 0;
        }
    }
    if (host.empty() || HasControl(host) || host.find_first_of(" @[]\\?#%") != std::string::npos) {
        m_strReason = "invalid host in the server url";
        return 0;
    }
    if (HasControl(path)) {
        // A CR or LF here would let the URL write headers of its own.
        m_strReason = "control character in the server url";
        return 0;
    }

    m_bNotReached = false;
    netdetail::EnsureCurlGlobal();
    CKtHttpRequest request(this);
    request.easy = curl_easy_init();
    if (!request.easy) {
        m_strError = "Failed to open session";
        return 0;
    }
    CURL* easy = request.easy;
    const std::string target = "http://" + host + ":" + std::to_string(port) + "/" + EscapePath(path);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request.curlError);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    if (curl_easy_setopt(easy, CURLOPT_URL, target.c_str()) != CURLE_OK) {
        m_strError = request.curlError[0] ? request.curlError : "Invalid server url";
        return 0;
    }
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_nConnectTimeoutMs);
    // Our own Accept-Encoding header goes out as written; naming the same
    // codings here only makes curl undo them, so "OK" is found in a packed reply.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    for (const char* header : {kAcceptTypes, kAcceptLanguage, kContentType, kAcceptEncoding, "Expect:"})
        request.headers = curl_slist_append(request.headers, header);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReadReplyCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);

    const int sent = WriteBody(&request, data, fieldName, length, fileName);
    // Whatever came of the reply read, a good send stays a good send; a NUL in
    // the reply ends its text.
    if (sent && request.replyRead)
        reply.assign(request.reply.c_str());
    return sent;
}

int CKtHttpFileUp::WriteBody(CKtHttpRequest* request, const unsigned char* data, const std::string& fieldName,
                             size_t length, const std::string& fileName) {
    if (!NamesFit(fieldName, fileName)) {
        m_strError = fieldName.size() + fileName.size() > kMaxNamesLength ? "Upload file name too long"
                                                                           : "Invalid upload file name";
        return 0;
    }
    request->partHeader = std::string(kPartHeadBegin) + fieldName + kPartHeadMiddle + fileName + kPartHeadEnd;
    request->data = data;
    request->length = length;
    const curl_off_t total = static_cast<curl_off_t>(request->partHeader.size() + length + kTrailerLength);

    CURL* easy = request->easy;
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, total);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, ReadBodyCallback);
    curl_easy_setopt(easy, CURLOPT_READDATA, request);

    request->bodyTotal = total;
    // The limits are the request's own (see Tick): the driver's inactivity limit
    // would cut off a server that is still storing the recording.
    const auto drive = netdetail::DriveTransfer(easy, 0, [request] { return request->Tick(); });

    if (request->abandoned) {
        m_strReason = "upload abandoned";
        return 0;
    }
    if (request->stopped) {
        m_strReason = "upload stopped";
        return 0;
    }
    long status = 0;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    // The request has ended when the whole body went out and the server's
    // answer has begun; what happens to the reply body after that does not undo it.
    if (uploaded == total && status >= 200) {
        request->replyRead = request->replyDone || !request->reply.empty() ||
                             (drive.end == netdetail::DriveEnd::Finished && drive.code == CURLE_OK);
        OnSendEnd(length);
        return 1;
    }

    if (status >= 200)
        m_nEarlyStatus = status;
    curl_off_t connectTime = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
    m_bNotReached = status == 0 && uploaded == 0 && connectTime == 0 &&
                    (drive.code == CURLE_COULDNT_CONNECT || drive.code == CURLE_COULDNT_RESOLVE_HOST ||
                     drive.code == CURLE_COULDNT_RESOLVE_PROXY || drive.code == CURLE_OPERATION_TIMEDOUT);
    if (request->stalled) {
        m_strError = "Timed out: the server stopped taking the file";
        return 0;
    }
    if (request->replyTimedOut) {
        m_strError = "Timed out: the server did not answer within " + std::to_string(m_nReplyTimeoutMs / 1000) + " s";
        return 0;
    }
    switch (drive.end) {
    case netdetail::DriveEnd::Finished:
        if (drive.code == CURLE_OK)
            m_strError = "The server answered before the whole file was sent";
        else
            m_strError = request->curlError[0] ? request->curlError : curl_easy_strerror(drive.code);
        break;
    default:
        m_strError = "Transfer failed";
        break;
    }
    return 0;
}

int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply) {
    return UploadFile(url, uploadFileName, localPath, reply, nullptr);
}

bool ReadUploadFile(const std::string& localPath, std::vector<unsigned char>& bytes, std::string& error,
                    size_t maxBytes, bool followLinks) {
    const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        error = "cannot open " + localPath + ": " + std::strerror(errno);
        return false;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = localPath + " is not a regular file";
        return false;
    }
    const size_t length = static_cast<size_t>(st.st_size);
    if (length > maxBytes) {
        error = localPath + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    try {
        bytes.assign(length, 0);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to hold " + localPath;
        return false;
    }
    size_t have = 0;
    while (have < length) {
        const ssize_t n = ::read(fd, bytes.data() + have, length - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        have += static_cast<size_t>(n);
    }
    if (have < length) {
        error = "cannot read all of " + localPath;
        return false;
    }
    return true;
}

int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply, std::string* error, const std::atomic<bool>* stop) {
    auto fail = [&](std::string text) {
        if (error)
            *error = std::move(text);
        return 0;
    };
    if (error)
        error->clear();

    std::vector<unsigned char> bytes;
    std::string readError;
    if (!ReadUploadFile(localPath, bytes, readError))
        return fail(readError);

    CKtHttpFileUp uploader;
    uploader.m_pStop = stop;
    if (!uploader.PostFile(bytes.data(), bytes.size(), url, "upload", uploadFileName, reply)) {
        const std::string& reason = uploader.FailureReason();
        return fail(reason.empty() ? "upload failed" : reason);
    }
    return 1;
}
