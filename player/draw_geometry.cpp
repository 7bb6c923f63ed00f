#include "draw_geometry.h"

#include <algorithm>

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    bool negative = (product < 0) != (c < 0);
    int64_t num = product < 0 ? -product : product;
    int64_t den = c < 0 ? -static_cast<int64_t>(c) : c;
    int64_t q = (num + den / 2) / den;
    return static_cast<int>(negative ? -q : q);
}

RectL PictureArea(const RectL& view, bool textBeside) {
    RectL p = view;
    if (textBeside)
        p.left = (view.left + view.right) / 2 - 3;
    p.left += 1;
    p.top += 1;
    p.right -= 1;
    p.bottom -= 1;
    return p;
}

PictureFit FitPicture(const RectL& area, int w, int h) {
    PictureFit fit;
    if (w <= 0 || h <= 0)
        return fit;
    int aw = area.Width();
    int ah = area.Height();
    double scale = std::min(static_cast<double>(aw) / w, static_cast<double>(ah) / h);
    fit.dw = static_cast<int>(w * scale);
    fit.dh = static_cast<int>(h * scale);
    fit.x = area.left + (aw - fit.dw) / 2;
    fit.y = area.top + (ah - fit.dh) / 2;
    return fit;
}

RectL TextRect(const RectL& view, const PictureFit& fit, bool textBeside) {
    if (textBeside)
        return RectL{view.left + 11, fit.y, view.left + fit.dw - 9, fit.y + fit.dh};
    return RectL{fit.x + 10, fit.y + 10, fit.x + fit.dw - 10, fit.y + fit.dh - 10};
}

void PlaceTexts(const RectL& tr, bool textBeside, bool showQuestion, int qh, bool showAnswer, int ah,
                RectL& question, RectL& answer) {
    question = RectL{tr.left, 0, tr.right, 0};
    answer = RectL{tr.left, 0, tr.right, 0};
    if (textBeside) {
        question.top = tr.top;
        question.bottom = tr.top + qh;
        answer.top = showQuestion ? question.bottom + 25 : tr.top;
        answer.bottom = answer.top + ah;
    } else {
        answer.bottom = tr.bottom;
        answer.top = tr.bottom - ah;
        question.bottom = showAnswer ? answer.top - 5 : tr.bottom;
        question.top = question.bottom - qh;
    }
}

int FontHeightForPoints(int points, int dpiY) { return -MulDiv(points, dpiY, 72); }

int LevelFromMessage(WPARAM wParam) {
    int32_t above = static_cast<int32_t>(static_cast<uint32_t>(wParam) - 20u);
    if (above <= 0)
        return 0;
    return static_cast<int>(above / 1.5);
}

RectL LevelBar(int clientWidth, int clientHeight, int tileHeight) {
    int bottom = clientHeight - 37;
    return RectL{5, bottom - tileHeight, clientWidth - 5, bottom};
}

int LevelFillRight(int level, const RectL& bar) {
    // A loud input fills the bar, and never the frame beyond it.
    return std::min(bar.right, bar.left + static_cast<int>((level / 100.0) * (bar.right - bar.left)));
}

RectL CountdownRect(int clientWidth, int clientHeight) {
    return RectL{clientWidth - 172, clientHeight - 30, clientWidth - 141, clientHeight - 6};
}

int CountdownSeconds(DWORD waitSeconds, DWORD now, DWORD waitStart) {
    DWORD elapsedSeconds = (now - waitStart) / 1000u;
    // A tick late to move on must not show a pause below zero.
    if (elapsedSeconds >= waitSeconds)
        return 0;
    return static_cast<int32_t>(waitSeconds - elapsedSeconds);
}
