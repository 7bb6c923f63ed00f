// The arithmetic of the main window's drawing, free of any painting, so that every
// number can be checked on its own.
#pragma once

#include <cstdint>

#include "wintypes.h"

// A rectangle by its edges; right and bottom are exclusive.
struct RectL {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const RectL&) const = default;
};

// a * b / c rounded to the nearest integer, halves away from zero, in 64 bits.
// c == 0 gives -1.
int MulDiv(int a, int b, int c);

// The picture area inside the view: the whole view, or its right half (a little
// wider) when the texts stand beside the picture; then 1 pixel in on every side.
RectL PictureArea(const RectL& view, bool textBeside);

// The drawn picture: fitted into the area keeping its proportions, centred.
struct PictureFit {
    int x = 0, y = 0, dw = 0, dh = 0;
};
PictureFit FitPicture(const RectL& area, int pictureWidth, int pictureHeight);

// Where the question and answer texts may go.
RectL TextRect(const RectL& view, const PictureFit& fit, bool textBeside);

// Places the measured texts (heights qh and ah) in the text rectangle.
void PlaceTexts(const RectL& tr, bool textBeside, bool showQuestion, int qh, bool showAnswer, int ah,
                RectL& question, RectL& answer);

// The logical font height for a size in points on a surface of dpiY pixels per inch.
int FontHeightForPoints(int points, int dpiY);

// The level in percent from a level message's wParam.
int LevelFromMessage(WPARAM wParam);

// The level bar: x0 = 5, x1 = W - 5 (the same margin on both sides), bottom
// H - 37, top = bottom - tile height.
RectL LevelBar(int clientWidth, int clientHeight, int tileHeight);
// The right end of the fill for a level, at most the bar's end.
int LevelFillRight(int level, const RectL& bar);

// Where the countdown of a pause is drawn, right of the bottom bar's middle.
RectL CountdownRect(int clientWidth, int clientHeight);

// Remaining seconds of a pause as the countdown shows them; never below 0.
int CountdownSeconds(DWORD waitSeconds, DWORD now, DWORD waitStart);
