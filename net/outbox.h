// The outbox: recordings the learner agreed to send that the server has not
// accepted yet. They wait in a folder of the data folder, one file per upload
// name (the newest), and go out again in the background at the next start.
//
// The folder (0700; every file in it 0600):
//   NAME            waiting to be sent
//   refused/NAME    the server answered without "OK": kept for support staff,
//                   never sent again by itself
//   .sending.NAME   being sent right now; back to NAME if that does not end well
//   .tmp-XXXXXX     a copy being written (renamed into place once complete)
//   .lock           held by the one process that sends the outbox
// NAME is the upload name with "%", "/", control bytes and a leading "." written
// as %XX, so any upload name is one file name and back.
//
// Files change only by rename within the folder, so a crash at any moment leaves
// each recording either whole under one of these names or not there at all.
// Without Qt: the player starts it, support staff's vorur-upload sends it too.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct OutboxEntry {
    std::string name;  // the upload name it is sent under
    std::string path;
    bool refused = false;
    time_t stored = 0;  // when it was put in
    int64_t size = 0;
};

enum class OutboxResult {
    Delivered,  // the reply held "OK": the entry is gone
    Refused,    // the reply did not: the entry waits in refused/
    Failed,     // not delivered (no connection, broken off, stopped): it waits as before
    Skipped,    // cannot be sent as it is (too large, a name the request cannot carry)
};

// What a round reports as it goes, for a progress display.
struct OutboxEvent {
    enum Kind { Begin, Progress, End } kind = Begin;
    const OutboxEntry* entry = nullptr;
    size_t sent = 0;  // Progress: file bytes out so far
    OutboxResult result = OutboxResult::Failed;  // End
    std::string detail;                          // End: the reply, or why it failed
};

struct OutboxRound {
    bool busy = false;  // another process sends this outbox: nothing was tried
    int delivered = 0;
    int refused = 0;
    int failed = 0;
    int skipped = 0;
    int left = 0;  // entries not tried, after a failure or a stop
};

class COutbox {
public:
    // Never more entries than this: the oldest beyond it are dropped.
    static constexpr size_t kMaxEntries = 50;
    // Entries older than this are dropped.
    static constexpr time_t kMaxAgeSeconds = 30 * 24 * 3600;
    // Larger files are not taken in nor sent (4.6 hours at the recorder's
    // 32 kbit/s); a send holds the whole file in memory.
    static constexpr int64_t kMaxEntryBytes = int64_t(64) << 20;

    explicit COutbox(std::string folder);
    ~COutbox();
    COutbox(const COutbox&) = delete;
    COutbox& operator=(const COutbox&) = delete;

    const std::string& Folder() const { return m_folder; }

    // Copies the file at `sourcePath` in as the entry for `uploadName`, replacing
    // any older one, waiting or refused. False when the copy could not be made
    // whole; the outbox is then as it was.
    bool Put(const std::string& uploadName, const std::string& sourcePath);
    // The waiting entry for `uploadName` is moved to refused/.
    bool MarkRefused(const std::string& uploadName);
    // Removes every copy of `uploadName`: a newer recording under that name has
    // been accepted, and an older one must never overwrite it on the server.
    void Drop(const std::string& uploadName);
    // Waiting entries, then refused ones when asked, each oldest first.
    std::vector<OutboxEntry> Entries(bool withRefused = true) const;

    // Sends the outbox on the calling thread, one entry after another, oldest
    // first, each once; refused entries too when `withRefused`. The first entry
    // that fails ends the round: the rest wait for the next one, so a server that
    // is away gets one attempt per round. Old and surplus entries are dropped
    // first, and what an earlier process left half sent is put back.
    OutboxRound SendAll(const std::string& url, bool withRefused = false,
                        const std::function<void(const OutboxEvent&)>& progress = nullptr);

    // SendAll of the waiting entries on a thread of its own. The outbox stays
    // claimed by this process until the object goes, so no other sender can
    // send beside it.
    void StartSending(const std::string& url);
    // Ends a round started by StartSending and waits for it: an entry on its way
    // is given up and waits for the next round. Takes a few tens of milliseconds.
    void StopSending();

private:
    bool Claim();
    void Recover();
    void Prune(time_t now);
    std::string PendingPath(const std::string& fileName) const;
    std::string RefusedPath(const std::string& fileName) const;
    std::string SendingPath(const std::string& entryPath) const;

    std::string m_folder;
    int m_lockFd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The file name an upload name is kept under, and back.
std::string OutboxFileName(const std::string& uploadName);
std::string OutboxUploadName(const std::string& fileName);
