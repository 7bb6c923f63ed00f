// A lesson page's picture: decoded once from a file or from memory (the format
// is recognised from the bytes, never from a file name), reported in pixels of a
// target surface and drawn stretched into any rectangle. The last stretched copy
// is kept, so repainting at an unchanged size neither decodes nor rescales.
#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <string>

class QPainter;
class QPaintDevice;

// A picture that would decode to more than this many MiB does not load (a few
// kilobytes of PNG can declare 30000 x 30000 pixels).
constexpr int kMaxPictureMiB = 128;

class CPicture {
public:
    CPicture() = default;
    virtual ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // Reads and decodes the file at `path`. The path is taken as raw bytes (file
    // names from lesson packages are not UTF-8). Any earlier picture is released
    // first, so on failure the object is empty.
    bool Load(const std::string& path);
    // Decodes `count` bytes; releases any earlier picture first.
    bool LoadFromMemory(const void* data, size_t count);
    void FreePicture();
    bool IsLoaded() const { return !m_image.isNull(); }

    // The picture's size in hundredths of a millimetre, taken at 96 pixels per
    // inch; 0 x 0 when empty.
    QSize GetHimetricSize() const { return m_himetric; }
    // The size in pixels of `dc` (by its logical resolution; a null device counts
    // as 96 per inch, where a picture measures its own pixel size). 0 x 0 when empty.
    QSize GetSizeInPixels(const QPaintDevice* dc) const;
    // Draws the whole picture stretched into (x, y, w, h), smoothly scaled. False
    // when nothing is loaded or the painter cannot draw.
    bool Draw(QPainter& dc, int x, int y, int w, int h);

    // The decoded picture, for inspection.
    const QImage& GetImage() const { return m_image; }
    // How many times a scaled copy was made; tells a caller whether its
    // repaints are reusing the cache.
    int GetScaleCount() const { return m_nScaleCount; }

private:
    bool Decode(const QByteArray& bytes);

    QImage m_image;      // as decoded, in a painter-friendly format
    QSize m_himetric{0, 0};  // size in HIMETRIC units (0.01 mm)
    QImage m_scaled;     // the last stretched copy
    QSize m_scaledSize;  // device-pixel size m_scaled was made for
    int m_nScaleCount = 0;
};
