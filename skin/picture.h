// A lesson page's picture: decoded from a file or from memory (the format is
// recognised from the bytes, never from a file name), reported in pixels of a
// target surface and drawn stretched into any rectangle. One copy is kept: when
// the caller says at which size the picture will be shown, it is decoded at that
// size (a large JPEG never exists at full size in memory); drawing at another size
// decodes it again at the new size, so repainting at an unchanged size neither
// decodes nor rescales.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <cstddef>
#include <functional>
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

    // Given the picture's size in HIMETRIC units, the device-pixel size it will be
    // drawn at; an invalid size for "as stored".
    using ShownSize = std::function<QSize(const QSize& himetric)>;

    // Reads and decodes the file at `path`, at the size `shown` gives (as stored
    // without it). The path is taken as raw bytes (file names from lesson packages
    // are not UTF-8). Any earlier picture is released first, so on failure the
    // object is empty.
    bool Load(const std::string& path, const ShownSize& shown = ShownSize());
    // Decodes `count` bytes; releases any earlier picture first.
    bool LoadFromMemory(const void* data, size_t count, const ShownSize& shown = ShownSize());
    void FreePicture();
    bool IsLoaded() const { return m_bLoaded; }
    // Lets go of the pixels while keeping the picture: the next Draw decodes it
    // again. For a caller that keeps what it drew (the window's composition).
    void ReleasePixels() { m_image = QImage(); }
    // Changes whenever another picture is loaded or the picture is freed; not when
    // the same picture is redrawn at another size.
    quint64 GetSerial() const { return m_nSerial; }

    // Pixels of `dc` for a HIMETRIC size (a null device counts 96 per inch).
    // Loads the JPEG reader ahead of the first picture, on any thread: the first
    // decode then does not wait for its plugin to be loaded.
    static void LoadJpegReader();
    static QSize HimetricToPixels(const QSize& himetric, const QPaintDevice* dc);
    // The same at a resolution given in pixels per inch (0 or less counts 96).
    static QSize HimetricToPixels(const QSize& himetric, int dpiX, int dpiY);

    // The picture's size in hundredths of a millimetre, taken at 96 pixels per
    // inch; 0 x 0 when empty.
    QSize GetHimetricSize() const { return m_himetric; }
    // The size in pixels of `dc` (by its logical resolution; a null device counts
    // as 96 per inch, where a picture measures its own pixel size). 0 x 0 when empty.
    QSize GetSizeInPixels(const QPaintDevice* dc) const;
    // Draws the whole picture stretched into (x, y, w, h), smoothly scaled. False
    // when nothing is loaded or the painter cannot draw.
    bool Draw(QPainter& dc, int x, int y, int w, int h);

    // The kept copy: as stored, or at the size last shown (null once released).
    const QImage& GetImage() const { return m_image; }
    // How many times the picture was made again for another size or after a
    // release; tells a caller whether its repaints are reusing the kept copy.
    int GetScaleCount() const { return m_nScaleCount; }

private:
    // Decodes m_path or m_bytes into `out` at the size `sizeFor` gives for the
    // stored size (as stored for an invalid one); `stored` gets the stored size.
    bool Decode(const std::function<QSize(const QSize& stored)>& sizeFor, QImage& out, QSize* stored) const;
    bool LoadSource(const ShownSize& shown);

    QImage m_image;          // the one copy, in a painter-friendly format
    bool m_bLoaded = false;
    QSize m_himetric{0, 0};  // size in HIMETRIC units (0.01 mm)
    std::string m_path;      // where it was read from, to decode again at another size
    QByteArray m_bytes;      // or the bytes it was given
    int m_nScaleCount = 0;
    quint64 m_nSerial = 0;
};
