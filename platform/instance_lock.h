// A per-user, per-login exclusive lock named like a mutex. The kernel drops it when
// the process ends, however it ends.
#pragma once

#include <string>

// The folder for the user's runtime files: XDG_RUNTIME_DIR, else a private folder
// under the temp folder created for this user.
std::string UserRuntimeFolder();

class CInstanceLock {
public:
    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // True when this object now holds the lock named `name`; false when another
    // holder (in this or another process) has it, or the lock file cannot be made.
    bool TryLock(const std::string& name);
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// What a later start asks of the running copy: to come to the front, with the
// activation token its launcher gave it (Wayland's XDG_ACTIVATION_TOKEN, X11's
// DESKTOP_STARTUP_ID), so that the desktop lets the running window take the focus.
struct RaiseRequest {
    std::string activationToken;
    std::string startupId;
};

// The running copy's socket beside its lock ("<name>.sock" in UserRuntimeFolder, 0600),
// on which later starts of the same user ask it to come to the front.
class CInstanceChannel {
public:
    // A request is at most this long; a token is at most 512 printable bytes.
    static constexpr size_t kMaxRequestBytes = 2048;

    CInstanceChannel() = default;
    ~CInstanceChannel();
    CInstanceChannel(const CInstanceChannel&) = delete;
    CInstanceChannel& operator=(const CInstanceChannel&) = delete;

    // Listens under `name`; only the holder of the lock of that name may. A socket
    // left by a copy that was killed is replaced; anything else at the path is left
    // alone and false is returned.
    bool Listen(const std::string& name);
    // The listening socket, to watch for readability; -1 when not listening.
    int Fd() const { return m_fd; }
    // Takes one waiting request (waiting at most 100 ms for its bytes). False when
    // none was waiting, it came from another user or it was not a request.
    bool Accept(RaiseRequest& request);

private:
    int m_fd = -1;
    std::string m_path;
};

// Asks the copy holding the lock `name` to come to the front. False, with the
// reason, when there is no channel or it does not take the request within 1 s.
bool SendRaiseRequest(const std::string& name, const RaiseRequest& request, std::string& error);
