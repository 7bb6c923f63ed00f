// A font kept as a description (height in logical units, weight, face, ...), so
// the painting code can change its height or face and get the new font at once.
#pragma once

#include <QFont>
#include <cstdint>
#include <string>

class QPaintDevice;

// The description a font is made from. Heights follow the usual convention:
// negative = character (em) height, positive = cell height (ascent + descent),
// 0 = a default size; logical units are pixels of the surface drawn on.
struct KtLogFont {
    int32_t lfHeight = -12;
    int32_t lfWidth = 0;
    int32_t lfEscapement = 0;
    int32_t lfOrientation = 0;
    int32_t lfWeight = 400;
    uint8_t lfItalic = 0;
    uint8_t lfUnderline = 0;
    uint8_t lfStrikeOut = 0;
    uint8_t lfCharSet = 0;
    uint8_t lfOutPrecision = 0;
    uint8_t lfClipPrecision = 0;
    uint8_t lfQuality = 2;          // proof quality: antialiased
    uint8_t lfPitchAndFamily = 0x12;  // variable pitch, roman (serif) family
    char lfFaceName[32] = "Times New Roman";  // UTF-8, at most 31 bytes and a NUL
};

class CAutoFont {
public:
    CAutoFont();
    virtual ~CAutoFont() = default;

    // Stores a new height and makes the font again; returns the previous height.
    int SetHeight(int height);
    // Stores a new face name (UTF-8, cut to 31 bytes on a character boundary)
    // and makes the font again; returns the name as stored.
    std::string SetFaceName(const std::string& name);

    int GetHeight() const { return m_logFont.lfHeight; }
    std::string GetFaceName() const { return m_logFont.lfFaceName; }
    const KtLogFont& GetLogFont() const { return m_logFont; }

    // The font, sized in pixels.
    const QFont& font() const { return m_font; }
    // The font resolved for drawing on `dev`.
    QFont font(const QPaintDevice* dev) const;
    operator const QFont&() const { return m_font; }

private:
    void CreateFont();

    KtLogFont m_logFont;
    QFont m_font;
};

// Makes the face names the player asks for resolve to installed look-alikes:
// "굴림" (and its relatives) to NanumGothic, "Times New Roman" to the
// metric-compatible Liberation Serif, and so on. Call once after the
// application object exists.
void InstallFontSubstitutions();
