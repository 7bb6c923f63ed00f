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
    m_himetric = QSize(0, 0);
    m_scaled = QImage();
    m_scaledSize = QSize();
}

bool CPicture::Load(const std::string& path) {
    FreePicture();
    QByteArray bytes;
    if (!ReadWholeFile(path, bytes) || bytes.isEmpty())
        return false;
    return Decode(bytes);
}

bool CPicture::LoadFromMemory(const void* data, size_t count) {
    FreePicture();
    if (!data || count == 0 || count > static_cast<size_t>(std::numeric_limits<qsizetype>::max()))
        return false;
    return Decode(QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(count)));
}

bool CPicture::Decode(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    QImageReader::setAllocationLimit(kMaxPictureMiB);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Pictures are shown as stored, the way the lesson's author saw them.
    reader.setAutoTransform(false);
    QImage img = reader.read();
    if (img.isNull())
        return false;
    m_image = img.convertToFormat(img.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                        : QImage::Format_RGB32);
    if (m_image.isNull())
        return false;
    m_himetric = QSize(MulDiv(m_image.width(), kHimetricPerInch, kPictureDpi),
                       MulDiv(m_image.height(), kHimetricPerInch, kPictureDpi));
    return true;
}

QSize CPicture::GetSizeInPixels(const QPaintDevice* dc) const {
    if (!IsLoaded())
        return QSize(0, 0);
    int dpiX = dc ? dc->logicalDpiX() : kPictureDpi;
    int dpiY = dc ? dc->logicalDpiY() : kPictureDpi;
    if (dpiX <= 0)
        dpiX = kPictureDpi;
    if (dpiY <= 0)
        dpiY = kPictureDpi;
    return QSize(MulDiv(m_himetric.width(), dpiX, kHimetricPerInch),
                 MulDiv(m_himetric.height(), dpiY, kHimetricPerInch));
}

bool CPicture::Draw(QPainter& dc, int x, int y, int w, int h) {
    if (!IsLoaded() || !dc.isActive())
        return false;
    if (w <= 0 || h <= 0)
        return true;  // nothing to cover
    // Scale for the device pixels the rectangle will occupy, so a high-density
    // surface gets a sharp copy.
    const qreal dpr = dc.device() ? dc.device()->devicePixelRatioF() : 1.0;
    const QSize target(qMax(1, qRound(w * dpr)), qMax(1, qRound(h * dpr)));
    if (m_scaledSize != target || m_scaled.isNull()) {
        m_scaled = target == m_image.size()
                       ? m_image
                       : m_image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_scaled.setDevicePixelRatio(dpr);
        m_scaledSize = target;
        ++m_nScaleCount;
    }
    dc.drawImage(QRectF(x, y, w, h), m_scaled);
    return true;
}
