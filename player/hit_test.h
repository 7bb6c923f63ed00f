// Where a point of the borderless main window lies: the move strip, a resize border
// or corner, or the background (which moves the window too).
#pragma once

enum HitTestResult : int {
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTLEFT = 10,
    HTRIGHT = 11,
    HTTOP = 12,
    HTTOPLEFT = 13,
    HTTOPRIGHT = 14,
    HTBOTTOM = 15,
    HTBOTTOMLEFT = 16,
    HTBOTTOMRIGHT = 17,
};

constexpr int kResizeBorder = 7;

// x, y in client coordinates of a width x height window whose top captionHeight
// rows only move it.
int MainWindowHitTest(int x, int y, int width, int height, int captionHeight);
