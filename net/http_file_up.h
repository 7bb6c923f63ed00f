// Upload of one file to the lesson server as a single multipart/form-data POST,
// with the request, the body bytes and the bounded reply read the server side
// expects. Blocking: everything happens on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
    // named `fileName`. Returns 1 when the whole body went out and the request
    // ended; `reply` then holds the first read of the reply body (what arrives
    // first, at most kReplyMax bytes, cut at a NUL), or is untouched when
    // nothing could be read. Returns 0 otherwise; `m_strError` tells why when
    // the failure has a text.
    int PostFile(const unsigned char* data, size_t length, const std::string& url,
                 const std::string& fieldName, const std::string& fileName, std::string& reply);

    // What the last failure was, also when `m_strError` is left empty (a port
    // out of range, a local file that could not be read): for support tools.
    const std::string& FailureReason() const { return m_strReason.empty() ? m_strError : m_strReason; }

    std::string m_strError;
    int32_t m_nChunkSize;

    // A connection not made within this time fails the upload.
    long m_nConnectTimeoutMs = 20000;
    // No byte moving either way for this long (a dead server, a reply that
    // never comes) ends the exchange.
    long m_nStallTimeoutMs = 30000;

    static constexpr size_t kReplyMax = 10240;
    // Longest field name plus file name the part header holds.
    static constexpr size_t kMaxNamesLength = 899;

protected:
    // Sends the body of `request` and ends the request; 1 or 0.
    int WriteBody(CKtHttpRequest* request, const unsigned char* data, const std::string& fieldName,
                  size_t length, const std::string& fileName);

private:
    std::string m_strReason;
};

// Reads the file at `localPath` and posts it to `url` as the form field "upload"
// named `uploadFileName`. 1 when the request was sent (see PostFile), else 0.
int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply);
// The same, also giving the reason of a failure in `error` (empty on success).
int UploadFile(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
               std::string& reply, std::string* error);
