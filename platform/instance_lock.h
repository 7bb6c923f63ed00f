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
