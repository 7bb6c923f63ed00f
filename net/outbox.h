// The outbox: recordings the learner agreed to send that the server has not
// accepted yet. They wait in a folder of the data folder, one file per upload
// name (the newest), and go out again in the background at the next start.
//
// The folder (0700; every file in it 0600):
//   NAME            waiting to be sent
//   refused/NAME    the server answered without "OK": kept for support staff,
//                   never sent again by itself
//   .sending.NAME   being sent right now; back to NAME if that does not end well
//                   and no newer take of NAME has come in or been accepted since
//   .tmp-XXXXXX     a copy being written (renamed into place once complete)
//   .lock           held (flock) by the one process that changes the outbox
//   .vorur-outbox   the mark of a folder the player made as its outbox
//   .index          the outbox's own record of each NAME: the take's sequence
//                   number, when it came in and how often it was tried; written
//                   whole and renamed into place
// NAME is the upload name with "%", "/", control bytes and a leading "." written
// as %XX, so any upload name is one file name and back.
//
// Files change only by rename within the folder, so a crash at any moment leaves
// each recording either whole under one of these names or not there at all. An
// outbox of an earlier version (no mark, no .index) is read as it is: its files
// get a record when the player next takes the outbox, dated then.
// Without Qt: the player starts it, support staff's vorur-upload sends it too.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct OutboxEntry {
    std::string name;  // the upload name it is sent under
    std::string path;
    bool refused = false;
    time_t stored = 0;  // when it was put in, by the outbox's record (the file's time without one)
    int64_t size = 0;
    uint64_t seq = 0;  // the take's place in the order of puts; 0: not recorded yet
    int tries = 0;     // starts on which it was sent and not accepted
};

enum class OutboxResult {
    Delivered,  // the reply held "OK": the entry is gone
    Refused,    // the reply did not, or the server answered before it had read the
                // recording: the entry waits in refused/
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
    bool busy = false;       // another process holds this outbox: nothing was tried
    bool notOutbox = false;  // the folder is not one the player made as its outbox: untouched
    int delivered = 0;
    int refused = 0;
    int failed = 0;
    int skipped = 0;
    int left = 0;  // entries not tried: the server could not be reached, a stop, the time limit
};

// The mark file of a folder the player made as its outbox.
constexpr char kOutboxMark[] = ".vorur-outbox";
// True when `folder` is a folder with the outbox's mark in it.
bool IsOutboxFolder(const std::string& folder);

struct OutboxIndex;

class COutbox {
public:
    // Never more entries than this. Room for a new one is made by dropping the
    // oldest refused entries, then the oldest tried ones; never one that was not
    // tried: an outbox full of those takes nothing more in.
    static constexpr size_t kMaxEntries = 50;
    // An entry is dropped once it is older than this by the outbox's own record
    // and has been tried on at least kMinTriesToExpire different starts.
    static constexpr time_t kMaxAgeSeconds = 30 * 24 * 3600;
    static constexpr int kMinTriesToExpire = 5;
    // Larger files are not taken in nor sent (4.6 hours at the recorder's
    // 32 kbit/s); a send holds the whole file in memory.
    static constexpr int64_t kMaxEntryBytes = int64_t(64) << 20;
    // A round starts no new send after this long; the rest wait for the next.
    static constexpr int kRoundSeconds = 20 * 60;

    // `own`: the player's outbox, made and marked here when it is needed (an
    // unmarked one at this place is one an earlier version made). Otherwise only
    // a folder with the mark is used, and nothing else in it is changed.
    explicit COutbox(std::string folder, bool own = true);
    ~COutbox();
    COutbox(const COutbox&) = delete;
    COutbox& operator=(const COutbox&) = delete;

    const std::string& Folder() const { return m_folder; }

    // Every change below takes the outbox's lock first and keeps it until the
    // object goes; false (nothing changed) when another process holds it.

    // Copies the file at `sourcePath` in as the entry for `uploadName`, replacing
    // any older one, waiting or refused. False when the copy could not be made
    // whole or no room can be made; the outbox is then as it was.
    bool Put(const std::string& uploadName, const std::string& sourcePath);
    // The waiting entry for `uploadName` is moved to refused/.
    bool MarkRefused(const std::string& uploadName);
    // Removes every copy of `uploadName`: a newer recording under that name has
    // been accepted, and an older one must never overwrite it on the server.
    void Drop(const std::string& uploadName);
    // Whether a newer take of `uploadName` may go to the server outside the
    // outbox: true when this object holds the outbox (stop its own round first)
    // or no copy of that name lies in it that another process might be sending.
    bool SafeToSendDirectly(const std::string& uploadName);
    // Waiting entries, then refused ones when asked, each oldest first.
    std::vector<OutboxEntry> Entries(bool withRefused = true) const;

    // Sends the outbox on the calling thread, refused entries too when
    // `withRefused`: each entry once, the least tried first, then the oldest. A
    // server that cannot be reached at all ends the round (one request per round
    // while it is away); any other failure goes on with the next entry. What an
    // earlier process left half sent is put back first; entries that have
    // expired are dropped last.
    OutboxRound SendAll(const std::string& url, bool withRefused = false,
                        const std::function<void(const OutboxEvent&)>& progress = nullptr);

    // SendAll of the waiting entries on a thread of its own. The outbox stays
    // claimed by this process until the object goes, so no other sender can
    // send beside it.
    void StartSending(const std::string& url);
    // Ends a round started by StartSending and waits for it: an entry on its way
    // is given up and waits for the next round. Takes a few tens of milliseconds.
    void StopSending();

    // The wall clock the outbox dates its records by; for tests.
    void SetClockForTesting(std::function<time_t()> now) { m_now = std::move(now); }

private:
    bool ClaimLocked();
    void RecoverLocked(OutboxIndex& index);
    void PruneLocked(OutboxIndex& index);
    bool MakeRoomLocked(OutboxIndex& index, const std::string& keepFileName, size_t room);
    void DropEntryLocked(OutboxIndex& index, const OutboxEntry& entry, const std::string& why);
    void FinishSendLocked(const OutboxEntry& entry, uint64_t seq, OutboxResult result);
    time_t Now() const { return m_now ? m_now() : ::time(nullptr); }
    std::string PendingPath(const std::string& fileName) const;
    std::string RefusedPath(const std::string& fileName) const;
    std::string SendingPath(const std::string& entryPath) const;

    std::string m_folder;
    bool m_own = true;
    // One change at a time within the process too: the lock is the process's.
    std::mutex m_mutex;
    int m_lockFd = -1;
    uint64_t m_start = 0;  // this claim's number among the outbox's starts
    std::function<time_t()> m_now;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The file name an upload name is kept under, and back.
std::string OutboxFileName(const std::string& uploadName);
std::string OutboxUploadName(const std::string& fileName);
