#include "auto_font.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kDefaultPixelSize = 16;  // what a height of 0 gets

// Cuts a UTF-8 string to at most `max` bytes without splitting a character.
std::string CutUtf8(const std::string& s, size_t max) {
    if (s.size() <= max)
        return s;
    size_t n = max;
    // Step back over continuation bytes (10xxxxxx) to a character start.
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

}  // namespace

CAutoFont::CAutoFont() { CreateFont(); }

int CAutoFont::SetHeight(int height) {
    const int previous = m_logFont.lfHeight;
    m_logFont.lfHeight = height;
    CreateFont();
    return previous;
}

std::string CAutoFont::SetFaceName(const std::string& name) {
    const std::string cut = CutUtf8(name.substr(0, name.find('\0')), sizeof m_logFont.lfFaceName - 1);
    std::memset(m_logFont.lfFaceName, 0, sizeof m_logFont.lfFaceName);
    std::memcpy(m_logFont.lfFaceName, cut.data(), cut.size());
    CreateFont();
    return m_logFont.lfFaceName;
}

void CAutoFont::CreateFont() {
    QFont f;
    f.setFamily(QString::fromUtf8(m_logFont.lfFaceName));
    const int family = m_logFont.lfPitchAndFamily & 0xF0;
    switch (family) {
    case 0x10: f.setStyleHint(QFont::Serif); break;
    case 0x20: f.setStyleHint(QFont::SansSerif); break;
    case 0x30: f.setStyleHint(QFont::TypeWriter); break;
    case 0x40: f.setStyleHint(QFont::Cursive); break;
    case 0x50: f.setStyleHint(QFont::Decorative); break;
    default: break;
    }
    f.setFixedPitch((m_logFont.lfPitchAndFamily & 0x03) == 1);
    // The weight scale is the same 1..1000 one (400 normal, 700 bold).
    const int weight = m_logFont.lfWeight == 0 ? 400 : std::clamp<int>(m_logFont.lfWeight, 1, 1000);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(m_logFont.lfItalic != 0);
    f.setUnderline(m_logFont.lfUnderline != 0);
    f.setStrikeOut(m_logFont.lfStrikeOut != 0);
    if (m_logFont.lfQuality == 3)  // non-antialiased quality
        f.setStyleStrategy(QFont::NoAntialias);

    int px = kDefaultPixelSize;
    if (m_logFont.lfHeight < 0) {
        px = m_logFont.lfHeight == INT32_MIN ? 0x7fff : -m_logFont.lfHeight;
    } else if (m_logFont.lfHeight > 0) {
        // A cell height: find the em size whose ascent + descent fills it.
        QFont probe = f;
        probe.setPixelSize(100);
        const QFontMetricsF fm(probe);
        const qreal cell = fm.ascent() + fm.descent();
        px = cell > 0 ? qRound(m_logFont.lfHeight * 100.0 / cell) : m_logFont.lfHeight;
    }
    f.setPixelSize(std::clamp(px, 1, 0x7fff));
    m_font = f;
}

QFont CAutoFont::font(const QPaintDevice* dev) const {
    if (!dev)
        return m_font;
    return QFont(m_font, dev);
}

void InstallFontSubstitutions() {
    struct Sub {
        const char* face;
        const char* installed;
    };
    static const Sub subs[] = {
        {"굴림", "NanumGothic"},          {"Gulim", "NanumGothic"},
        {"굴림체", "NanumGothicCoding"},  {"GulimChe", "NanumGothicCoding"},
        {"돋움", "NanumGothic"},          {"Dotum", "NanumGothic"},
        {"돋움체", "NanumGothicCoding"},  {"DotumChe", "NanumGothicCoding"},
        {"바탕", "NanumMyeongjo"},        {"Batang", "NanumMyeongjo"},
        {"궁서", "NanumMyeongjo"},        {"Gungsuh", "NanumMyeongjo"},
        {"Times New Roman", "Liberation Serif"},
        {"Arial", "Liberation Sans"},
        {"Courier New", "Liberation Mono"},
    };
    for (const Sub& s : subs) {
        const QString face = QString::fromUtf8(s.face);
        const QString installed = QString::fromUtf8(s.installed);
        if (!QFont::substitutes(face).contains(installed, Qt::CaseInsensitive))
            QFont::insertSubstitution(face, installed);
    }
}
