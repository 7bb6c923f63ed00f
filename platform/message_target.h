// A window that can receive posted messages from any thread. Posting to a target
// that has gone away drops the message instead of touching freed memory.
#pragma once

#include "wintypes.h"

class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    // True while the window behind the target exists.
    virtual bool IsWindow() const = 0;
    // Thread-safe. Returns false when the message was dropped.
    virtual bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};
