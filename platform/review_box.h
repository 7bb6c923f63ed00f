// The question at the end of a test run, with the take to be heard before it is
// answered. Tests substitute a scripted implementation.
#pragma once

#include <string>

#include "wintypes.h"

class IReviewBox {
public:
    virtual ~IReviewBox() = default;
    // Asks `question` (UTF-8) with 예 and 아니요, offering the recording at
    // `recordingPath` to be heard first. Returns IDYES or IDNO.
    virtual int Ask(const std::string& question, const std::string& recordingPath) = 0;
};
