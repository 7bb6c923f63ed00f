// Small vocabulary shared by every folder: the flag and number types the player's
// classes use, dialog results and the message numbers that cross threads.
#pragma once

#include <cstdint>

using BOOL = int32_t;      // 0 or 1
using DWORD = uint32_t;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

// Dialog and message box results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Message box styles understood by IMessageBox.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;

constexpr UINT WM_USER = 0x0400;
// Input level posted by the level analyser to the dialog (wParam = level).
constexpr UINT WM_RECORD_LEVEL = WM_USER + 11;
// Start (wParam 1) or stop (wParam 2) command posted to the capture thread.
constexpr UINT WM_CAPTURE_COMMAND = WM_USER + 21;
