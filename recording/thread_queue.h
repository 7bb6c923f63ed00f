// The two synchronisation pieces of the capture thread: a thread's own FIFO
// message queue and a manual-reset event.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "wavein.h"

struct ThreadMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Messages are taken in the order they were posted. After Close() posts fail.
class CThreadMessageQueue : public IThreadMessageQueue {
public:
    bool PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Blocks until a message is there. False for WM_QUIT (the message is still returned).
    bool GetMessage(ThreadMessage& msg);
    // Takes the next message without waiting; false when the queue is empty.
    bool PeekMessage(ThreadMessage& msg);
    // Removes every queued message for which `match` is true.
    void RemoveMessages(const std::function<bool(const ThreadMessage&)>& match);
    void Close();

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<ThreadMessage> m_messages;
    bool m_closed = false;
};

// Stays signalled until reset; Test() never blocks.
class CManualResetEvent {
public:
    void Set();
    void Reset();
    bool Test() const;
    // Waits at most `ms` milliseconds; true when signalled.
    bool Wait(unsigned ms) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    bool m_signalled = false;
};
