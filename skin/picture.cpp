#include "picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>
#include <cerrno>
#include <cmath>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kHimetricPerInch = 2540;
constexpr int kPictureDpi = 96;  // resolution at which a picture's own pixels are counted

// a * b / c rounded to the nearest integer, halves away from zero, without overflow.
int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const long long n = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const long long q = ((n < 0) != (c < 0)) ? (n - half) / c : (n + half) / c;
    return static_cast<int>(q);
}

// Reads a whole file by its byte path, without assuming any encoding of the name.
bool ReadWholeFile(const std::string& path, QByteArray& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.clear();
    out.reserve(static_cast<qsizetype>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<qsizetype>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace

CPicture::~CPicture() { FreePicture(); }

void CPicture::FreePicture() {
    m_image = QImage();
    m_bLoaded = false;
    m_himetric = QSize(0, 0);
    m_path.clear();
    m_bytes.clear();
    ++m_nSerial;
}

bool CPicture::Load(const std::string& path, const ShownSize& shown) {
    FreePicture();
    if (path.empty())
        return false;
    m_path = path;
    return LoadSource(shown);
}

bool CPicture::LoadFromMemory(const void* data, size_t count, const ShownSize& shown) {
    FreePicture();
    if (!data || count == 0 || count > static_cast<size_t>(std::numeric_limits<qsizetype>::max()))
        return false;
    m_bytes = QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(count));
    return LoadSource(shown);
}

bool CPicture::LoadSource(const ShownSize& shown) {
    auto himetricOf = [](const QSize& pixels) {
        return QSize(MulDiv(pixels.width(), kHimetricPerInch, kPictureDpi),
                     MulDiv(pixels.height(), kHimetricPerInch, kPictureDpi));
    };
    QImage image;
    QSize stored;
    const bool ok = Decode([&](const QSize& size) { return shown ? shown(himetricOf(size)) : QSize(); }, image,
                           &stored);
    if (!ok) {
        FreePicture();
        return false;
    }
    m_image = image;
    m_bLoaded = true;
    m_himetric = himetricOf(stored);
    return true;
}

bool CPicture::Decode(const std::function<QSize(const QSize& stored)>& sizeFor, QImage& out, QSize* storedOut) const {
    QByteArray bytes = m_bytes;
    if (!m_path.empty() && !ReadWholeFile(m_path, bytes))
        return false;
    if (bytes.isEmpty())
        return false;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    QImageReader::setAllocationLimit(kMaxPictureMiB);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Pictures are shown as stored, the way the lesson's author saw them.
    reader.setAutoTransform(false);
    const QSize stored = reader.size();
    // The limit holds for the picture as stored, whatever size it is shown at.
    if (stored.isValid() &&
        static_cast<qint64>(stored.width()) * stored.height() * 4 > (static_cast<qint64>(kMaxPictureMiB) << 20))
        return false;
    QSize size = stored.isValid() ? sizeFor(stored) : QSize();
    if (size.isEmpty() || size == stored)
        size = QSize();
    if (size.isValid() && reader.format() == "jpeg") {
        // A JPEG is decoded straight at a half, a quarter or an eighth of its size,
        // the smallest of them not below the size shown, and then scaled smoothly:
        // libjpeg's other eighths are slower than a whole decode.
        int d = 1;
        while (d < 8 && stored.width() / (d * 2) >= size.width() && stored.height() / (d * 2) >= size.height())
            d *= 2;
        if (d > 1)
            reader.setScaledSize(QSize(stored.width() / d, stored.height() / d));
    } else if (size.isValid()) {
        reader.setScaledSize(size);  // decoded whole and scaled smoothly by the reader
    }
    QImage img = reader.read();
    if (img.isNull())
        return false;
    if (storedOut)
        *storedOut = stored.isValid() ? stored : img.size();
    out = img.convertToFormat(img.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (size.isValid() && !out.isNull() && out.size() != size)
        out = out.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return !out.isNull();
}

void CPicture::LoadJpegReader() {
    // Asking whether the start of a JPEG can be read loads the plugin that reads it.
    QByteArray start("\xFF\xD8\xFF\xE0", 4);
    QBuffer buffer(&start);
    if (!buffer.open(QIODevice::ReadOnly))
        return;
    QImageReader reader(&buffer, "jpeg");
    (void)reader.canRead();
}

QSize CPicture::HimetricToPixels(const QSize& himetric, const QPaintDevice* dc) {
    return HimetricToPixels(himetric, dc ? dc->logicalDpiX() : kPictureDpi, dc ? dc->logicalDpiY() : kPictureDpi);
}

QSize CPicture::HimetricToPixels(const QSize& himetric, int dpiX, int dpiY) {
    if (dpiX <= 0)
        dpiX = kPictureDpi;
    if (dpiY <= 0)
        dpiY = kPictureDpi;
    return QSize(MulDiv(himetric.width(), dpiX, kHimetricPerInch), MulDiv(himetric.height(), dpiY, kHimetricPerInch));
}

QSize CPicture::GetSizeInPixels(const QPaintDevice* dc) const {
    if (!IsLoaded())
        return QSize(0, 0);
    return HimetricToPixels(m_himetric, dc);
}

bool CPicture::Draw(QPainter& dc, int x, int y, int w, int h) {
    if (!IsLoaded() || !dc.isActive())
        return false;
    if (w <= 0 || h <= 0)
        return true;  // nothing to cover
    // Made for the device pixels the rectangle will occupy, so a high-density
    // surface gets a sharp copy.
    const qreal dpr = dc.device() ? dc.device()->devicePixelRatioF() : 1.0;
    const QSize target(qMax(1, qRound(w * dpr)), qMax(1, qRound(h * dpr)));
    if (m_image.size() != target) {
        // From the source again rather than from the kept copy, so that resizing
        // back and forth loses nothing; scaled from the copy if the source is gone.
        QImage made;
        if (!Decode([&](const QSize&) { return target; }, made, nullptr) || made.size() != target)
            made = m_image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_image = made;
        ++m_nScaleCount;
        if (m_image.isNull())
            return true;  // the source is gone and nothing was kept: nothing to draw
    }
    if (m_image.devicePixelRatio() != dpr)
        m_image.setDevicePixelRatio(dpr);
    dc.drawImage(QRectF(x, y, w, h), m_image);
    return true;
}
