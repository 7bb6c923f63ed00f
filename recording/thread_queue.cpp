#include "thread_queue.h"

#include <chrono>

bool CThreadMessageQueue::PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed)
            return false;
        m_messages.push_back(ThreadMessage{msg, wParam, lParam});
    }
    m_cv.notify_one();
    return true;
}

bool CThreadMessageQueue::GetMessage(ThreadMessage& msg) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_cv.wait(guard, [this] { return !m_messages.empty(); });
    msg = m_messages.front();
    m_messages.pop_front();
    return msg.message != WM_QUIT;
}

bool CThreadMessageQueue::PeekMessage(ThreadMessage& msg) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_messages.empty())
        return false;
    msg = m_messages.front();
    m_messages.pop_front();
    return true;
}

void CThreadMessageQueue::RemoveMessages(const std::function<bool(const ThreadMessage&)>& match) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_messages, match);
}

void CThreadMessageQueue::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_closed = true;
    m_messages.clear();
}

void CManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_signalled = true;
    }
    m_cv.notify_all();
}

void CManualResetEvent::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signalled = false;
}

bool CManualResetEvent::Test() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_signalled;
}

bool CManualResetEvent::Wait(unsigned ms) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_cv.wait_for(guard, std::chrono::milliseconds(ms), [this] { return m_signalled; });
}
