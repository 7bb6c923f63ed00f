// Keeps a second copy of the player from running in the same login.
#pragma once

#include <memory>
#include <string>

#include "instance_lock.h"
#include "wintypes.h"

class CKtSingleExec {
public:
    CKtSingleExec();
    virtual ~CKtSingleExec();

    // True when this process now holds the guard named `name`; false when another
    // process (or an earlier Acquire of this one) holds it.
    static BOOL Acquire(const std::string& name);

private:
    static CKtSingleExec* s_instance;
    // Earlier locks stay held for the life of the process, as a handle would.
    std::unique_ptr<CInstanceLock> m_hMutex;
    std::unique_ptr<CInstanceLock> m_hEarlier;
};
