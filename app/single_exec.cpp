#include "single_exec.h"

CKtSingleExec* CKtSingleExec::s_instance = nullptr;

namespace {
// The one guard of the process, alive from before start-up until exit.
CKtSingleExec g_singleExec;
}  // namespace

CKtSingleExec::CKtSingleExec() {
    if (!s_instance)
        s_instance = this;
}

CKtSingleExec::~CKtSingleExec() {
    if (s_instance == this)
        s_instance = nullptr;
}

BOOL CKtSingleExec::Acquire(const std::string& name) {
    if (!s_instance)
        return 0;
    if (s_instance->m_hMutex)
        s_instance->m_hEarlier = std::move(s_instance->m_hMutex);
    auto lock = std::make_unique<CInstanceLock>();
    BOOL owned = lock->TryLock(name) ? 1 : 0;
    if (owned)
        s_instance->m_hMutex = std::move(lock);
    return owned;
}
