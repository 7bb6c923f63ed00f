// The per-user settings store: organisation "Dazuzor", application "Vorur_Ozudiz2"
// (~/.config/Dazuzor/Vorur_Ozudiz2.conf on Linux). The player only reads it.
#pragma once

#include <string>

#include "wintypes.h"

// Reads a 32-bit number. A missing value fails; a value that does not fit in four
// bytes fails. Text that is a whole number counts as that number; other short
// values are taken as the low bytes of a little-endian number.
bool ReadSettingDword(const char* name, DWORD& value);

// Reads a text value (UTF-8). Fails when the value is missing or empty.
bool ReadSettingString(const char* name, std::string& value);

// A comma-separated list from the system-wide settings ($XDG_CONFIG_DIRS, default
// /etc/xdg, where an administrator sets it for all users) and from the user's own
// file, joined with ","; empty when neither has it. A list is at most 64 KiB from each.
std::string ReadSettingListAllScopes(const char* name);
