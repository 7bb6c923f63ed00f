// Upload of one file to the lesson server as a single multipart/form-data POST,
// with the request, the body bytes and the bounded reply read the server side
// expects. Blocking: everything happens on the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CKtHttpRequest;

class CKtHttpFileUp {
public:
    CKtHttpFileUp();
    virtual ~CKtHttpFileUp();

    // Hooks around the body send; `total` is the file's length, not the body's.
    virtual void OnSendBegin(size_t total);
    // After each chunk of file bytes; false abandons the request.
    virtual bool OnSendProgress(size_t sent, size_t total);
    // After the request ended well (the server's reply has begun).
    virtual void OnSendEnd(size_t total);

    // Posts `length` bytes at `data` to `url` ("http://host[:port]/path", the
    // scheme optional and matched ignoring case) as the file part `fieldName`
    // named `fileName`. Returns 1 when the whole body went out and the server
    // answered; `reply` then holds the reply body as read until the server ended
    // it, kReplyMax bytes had come or the reply limit ran out (cut at a NUL), or
    // is untouched when no byte of it came. Returns 0 otherwise; `m_strError`
    // tells why when the failure has a text.
    int PostFile(const unsigned char* data, size_t length, const std::string& url,
                 const std::string& fieldName, const std::string& fileName, std::string& reply);

    // What the last failure was, also when `m_strError` is left empty (a port
    // out of range, a local file that could not be read): for support tools.
    const std::string& FailureReason() const { return m_strReason.empty() ? m_strError : m_strReason; }
    // After a failed PostFile: the HTTP status of an answer the server gave
    // before it had read the whole body (a 413 sent at once), else 0. The server
    // has spoken then, though the request did not end well.
    long EarlyStatus() const { return m_nEarlyStatus; }
    // After a failed PostFile: true when no connection to the server was made at
    // all (refused, no such host, the connect timed out, an unusable URL).
    bool ServerNotReached() const { return m_bNotReached; }

    std::string m_strError;
    int32_t m_nChunkSize;

    // A connection not made within this time fails the upload.
    long m_nConnectTimeoutMs = 20000;
    // While the body goes out, no byte taken for this long (a dead server) fails
    // the upload.
    long m_nStallTimeoutMs = 30000;
    // Once the whole body is out, the longest wait for the reply to end: a
    // server may take this long to store a long recording before it answers.
    long m_nReplyTimeoutMs = 120000;
    // When set, the exchange is given up as soon as it reads true (the process
    // is ending); checked at least every few tens of milliseconds.
    const std::atomic<bool>* m_pStop = nullptr;

    static constexpr size_t kReplyMax = 10240;
    // Longest field name plus file name the part header holds.
    static constexpr size_t kMaxNamesLength = 899;
    // True when the two names can go into the part header as they are.
    static bool NamesFit(const std::string& fieldName, const std::string& fileName);

protected:
    // Sends the body of `request` and ends the request; 1 or 0.
    int WriteBody(CKtHttpRequest* request, const unsigned char* data, const std::string& fieldName,
                  size_t length, const std::string& fileName);

private:
    std::string m_strReason;
    long m_nEarlyStatus = 0;
    bool m_bNotReached = false;
};

// Reads the whole regular file at `localPath`, at most `maxBytes` of it; false
// with the reason in `error` otherwise. Without `followLinks` a symbolic link is
// refused, so that a link planted in a folder of ours cannot send another file.
bool ReadUploadFile(const std::string& localPath, std::vector<unsigned char>& bytes, std::string& error,
                    size_t maxBytes = SIZE_MAX, bool followLinks = true);

// Reads the file at `localPath` and posts it to `url` as the form field "upload"
// named `uploadFileName`. 1 when the request was sent (see PostFile), else 0.
int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply);
// The same, also giving the reason of a failure in `error` (empty on success);
// when `stop` reads true the upload is given up (see m_pStop).
int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply, std::string* error, const std::atomic<bool>* stop = nullptr);
