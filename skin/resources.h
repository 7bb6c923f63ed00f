// The skin's bitmaps and the window icon, compiled into the executable and
// addressed by their resource numbers (":/bitmaps/<id>.png", ":/icons/<id>.png").
#pragma once

#include <QIcon>
#include <QImage>

// Registers the compiled-in resources. Safe to call any number of times; the
// loaders below call it themselves.
void InitSkinResources();

// Bitmap resource `id` (a skin piece or a button strip); a null image when the
// executable has no such bitmap.
QImage LoadBitmapResource(int id);

// Icon resource `id` with every size it was drawn at; a null icon when missing.
QIcon LoadIconResource(int id);
