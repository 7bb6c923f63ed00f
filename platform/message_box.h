// The application's message boxes: OK boxes without an icon and one Yes/No question,
// titled with the executable's name. Tests substitute a scripted implementation.
#pragma once

#include <string>

#include "wintypes.h"

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // text is UTF-8; type is MB_OK or MB_YESNO. Returns IDOK, IDYES or IDNO.
    virtual int Show(const std::string& text, UINT type) = 0;
};
