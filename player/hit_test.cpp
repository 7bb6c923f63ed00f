#include "hit_test.h"

namespace {
bool In(int x, int y, int left, int top, int right, int bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}
}  // namespace

int MainWindowHitTest(int x, int y, int w, int h, int captionHeight) {
    if (y >= 0 && y < captionHeight && x >= 0 && x < w)
        return HTCAPTION;
    const int b = kResizeBorder;
    if (In(x, y, 0, 0, b, b)) return HTTOPLEFT;
    if (In(x, y, w - b, 0, w, b)) return HTTOPRIGHT;
    if (In(x, y, w - b, h - b, w, h)) return HTBOTTOMRIGHT;
    if (In(x, y, 0, h - b, b, h)) return HTBOTTOMLEFT;
    if (In(x, y, 0, 0, b, h)) return HTLEFT;
    if (In(x, y, 0, 0, w, b)) return HTTOP;
    if (In(x, y, w - b, 0, w, h)) return HTRIGHT;
    if (In(x, y, 0, h - b, w, h)) return HTBOTTOM;
    return HTCAPTION;
}
