// The skin's bitmaps and the window icon, compiled into the executable and
// addressed by their resource numbers (":/bitmaps/<id>.png", ":/icons/<id>.png").
#pragma once

#include <QIcon>
#include <QImage>
#include <vector>

// Registers the compiled-in resources. Safe to call any number of times; the
// loaders below call it themselves.
void InitSkinResources();

// Bitmap resource `id` (a skin piece or a button strip); a null image when the
// executable has no such bitmap.
QImage LoadBitmapResource(int id);

// The scales every bitmap is drawn at (":/bitmaps/<id>@1.5x.png", "...@2x.png").
inline constexpr qreal kSkinScales[] = {1.0, 1.5, 2.0};
// The drawn scale for a screen's device pixel ratio: the smallest that is not
// coarser than the screen, or the finest there is.
qreal SkinScaleFor(qreal devicePixelRatio);
// Bitmap resource `id` drawn for that scale, its device pixel ratio set to the
// scale, so that it paints at its size in device-independent pixels.
QImage LoadBitmapResource(int id, qreal devicePixelRatio);

// Icon resource `id` with every size it was drawn at; a null icon when missing.
QIcon LoadIconResource(int id);

// Decoding ahead, for the start: the GUI thread names what its first window will
// load (AnnounceAheadResources), another thread decodes it (DecodeAheadResources)
// while the first dialog shows, and the loaders above then take each image once
// instead of decoding it. A loader asking for an announced image waits for the
// decode; one that asks for anything not decoded ahead (another pixel ratio) reads
// it itself and lets the rest go.
void AnnounceAheadResources(const std::vector<int>& bitmaps, qreal devicePixelRatio, int icon);
void DecodeAheadResources();
