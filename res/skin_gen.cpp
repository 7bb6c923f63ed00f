// Draws the player's skin: the frame and bottom-bar pieces, the button strips
// and the window icon, as PNG files named by their resource numbers. The build
// runs it, so the pictures always match this file; run it by hand to redraw:
//
//   skin_gen OUTDIR                 writes OUTDIR/bitmaps/<id>.png, <id>@1.5x.png,
//                                   <id>@2x.png, OUTDIR/icons/...
//   skin_gen --sheet OUTDIR FILE    renders a contact sheet of OUTDIR's pictures
//
// Every piece is drawn at each scale from its shapes, not enlarged from the
// smallest: a screen at 1.5 or 2 gets pixels of its own. Sizes and positions
// stay those of the scale 1 window; a piece at 1.5 rounds its size up to whole
// pixels, so pieces overlap by less than a pixel rather than leave gaps.
//
// Light comes from above: top edges catch it, bottom edges fall into shadow.
// Every piece that lies on the bottom bar repeats the bar's own rows behind its
// drawing, so the opaque pictures sit on the bar without seams.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <utility>
#include <functional>
#include <vector>

namespace {

// ---------------------------------------------------------------- geometry

// The scale being drawn; every picture of one run of Generate shares it.
double g_scale = 1.0;
constexpr std::pair<double, const char*> kScales[] = {{1.0, ""}, {1.5, "@1.5x"}, {2.0, "@2x"}};

// Pixels of a length at the scale being drawn.
int Scaled(int logical) { return int(std::ceil(logical * g_scale - 1e-9)); }

constexpr int kBarHeight = 43;  // bottom bar, rows 0..42
constexpr int kWindowW = 800;
constexpr int kWindowH = 600;
constexpr int kBarTop = kWindowH - kBarHeight;

struct StripSpec {
    int id;
    const char* name;
    int w, h;  // one picture
    int x, y;  // where the player places it in its 800 x 600 window
};

// The player's buttons, left group anchored bottom-left, right group bottom-right.
const StripSpec kStrips[] = {
    {130, "stop", 26, 26, 13, 567},   {136, "previous", 24, 26, 39, 567},
    {135, "play", 31, 30, 63, 565},   {134, "next", 25, 26, 94, 567},
    {148, "auto", 26, 26, 119, 567},  {151, "qt", 24, 15, 153, 566},
    {152, "at", 24, 14, 153, 581},    {156, "prac", 38, 30, 183, 565},
    {147, "test", 37, 30, 225, 565},  {133, "minimise", 20, 24, 720, 569},
    {132, "maximise", 21, 24, 740, 569}, {131, "close", 26, 29, 761, 566},
};

struct PieceSpec {
    int id;
    const char* name;
    int w, h;
};

const PieceSpec kPieces[] = {
    {137, "top edge", 32, 2},      {141, "top-left", 9, 2},     {144, "top-right", 15, 2},
    {139, "left edge", 3, 53},     {142, "right edge", 3, 56},  {138, "bar tile", 38, 43},
    {140, "left panel", 248, 43},  {143, "right panel", 133, 43}, {153, "logo", 113, 22},
    {155, "volume panel", 193, 29}, {163, "level tile", 60, 5},
};

// Panel 155 sits at (W - 273, H - 35); in bar rows that is 8.
constexpr int kPanel155Row = 8;
constexpr int kLogoRow = 13;  // (43 - 22) / 2 + 3

// ---------------------------------------------------------------- colours

QColor Mix(const QColor& a, const QColor& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

QColor WithAlpha(QColor c, double a) {
    c.setAlphaF(a);
    return c;
}

const QColor kOutline("#08090a");
const QColor kFrameLight("#464d54");
const QColor kFrameMid("#2a2f34");
const QColor kFrameDark("#16191c");
const QColor kAccent("#ffb84d");       // warm amber: active things
const QColor kAccentLight("#ffd089");
const QColor kAccentDeep("#e08a1e");
const QColor kSliderGrey(66, 71, 74);  // the sliders paint exactly this

// The bottom bar, row by row: a bevel line at the top, then a soft dark gradient
// with a faint sheen in its upper third, and an outline at the very bottom.
QColor BarRow(double r) {
    if (r < 1)
        return QColor("#575f67");
    if (r >= kBarHeight - 1)
        return kOutline;
    if (r >= kBarHeight - 2)
        return QColor("#141618");
    const QColor top("#3a4046");
    const QColor mid("#2c3035");
    const QColor bottom("#1d2023");
    const double t = (r - 1) / double(kBarHeight - 3);
    if (t < 0.35)
        return Mix(top, mid, t / 0.35);
    return Mix(mid, bottom, (t - 0.35) / 0.65);
}

// Fills `img` with the bar rows starting at bar row `row0`; at a scale above 1
// each pixel row takes the colour of where it starts in the bar.
void FillBar(QImage& img, int row0) {
    for (int y = 0; y < img.height(); ++y) {
        const QRgb c = BarRow(row0 + y / g_scale).rgb();
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            line[x] = c;
    }
}

// A picture of w x h at the scale being drawn: painters on it work in the
// scale 1 coordinates.
QImage NewImage(int w, int h) {
    QImage img(Scaled(w), Scaled(h), QImage::Format_RGB32);
    img.setDevicePixelRatio(g_scale);
    img.fill(Qt::black);
    return img;
}

// One pixel of the scale 1 picture: a square of pixels at a larger scale.
void SetPixel(QImage& img, int x, int y, const QColor& c) {
    QPainter p(&img);
    p.fillRect(QRectF(x, y, 1, 1), c);
}

void Antialiased(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QFont UiFont(double px, int weight = QFont::Bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(1);
    f.setPixelSize(std::max(1, int(std::lround(px))));
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// ---------------------------------------------------------------- frame

QImage TopEdge(int w) {
    QImage img = NewImage(w, 2);
    QPainter p(&img);
    p.fillRect(0, 0, w, 1, kOutline);
    p.fillRect(0, 1, w, 1, kFrameLight);
    return img;
}

QImage TopLeft() {
    QImage img = TopEdge(9);
    SetPixel(img, 0, 1, kOutline);
    // Soften the outer corner a little.
    SetPixel(img, 1, 1, Mix(kFrameLight, kOutline, 0.35));
    return img;
}

QImage TopRight() {
    QImage img = TopEdge(15);
    SetPixel(img, 12, 1, Mix(kFrameLight, kFrameMid, 0.5));
    SetPixel(img, 13, 1, Mix(kFrameLight, kOutline, 0.55));
    SetPixel(img, 14, 1, kOutline);
    return img;
}

QImage LeftEdge(int h) {
    QImage img = NewImage(3, h);
    QPainter p(&img);
    p.fillRect(0, 0, 1, h, kOutline);
    p.fillRect(1, 0, 1, h, kFrameLight);
    p.fillRect(2, 0, 1, h, kFrameDark);
    return img;
}

QImage RightEdge(int h) {
    QImage img = NewImage(3, h);
    QPainter p(&img);
    p.fillRect(0, 0, 1, h, kFrameDark);
    p.fillRect(1, 0, 1, h, kFrameMid);
    p.fillRect(2, 0, 1, h, kOutline);
    return img;
}

// ---------------------------------------------------------------- bar pieces

QImage BarTile() {
    QImage img = NewImage(38, kBarHeight);
    FillBar(img, 0);
    return img;
}

// A short vertical groove that separates button groups.
void Separator(QPainter& p, int x, int y0, int y1) {
    QLinearGradient dark(0, y0, 0, y1);
    dark.setColorAt(0.0, WithAlpha(QColor("#0c0d0f"), 0.0));
    dark.setColorAt(0.5, WithAlpha(QColor("#0c0d0f"), 0.85));
    dark.setColorAt(1.0, WithAlpha(QColor("#0c0d0f"), 0.0));
    QLinearGradient light(0, y0, 0, y1);
    light.setColorAt(0.0, WithAlpha(QColor("#6a737c"), 0.0));
    light.setColorAt(0.5, WithAlpha(QColor("#6a737c"), 0.55));
    light.setColorAt(1.0, WithAlpha(QColor("#6a737c"), 0.0));
    p.fillRect(QRect(x, y0, 1, y1 - y0), dark);
    p.fillRect(QRect(x + 1, y0, 1, y1 - y0), light);
}

QImage LeftPanel() {
    QImage img = NewImage(248, kBarHeight);
    FillBar(img, 0);
    QPainter p(&img);
    // The frame's left edge goes on down the bar.
    p.fillRect(0, 0, 1, kBarHeight, kOutline);
    for (int y = 0; y < kBarHeight - 1; ++y)
        p.fillRect(QRectF(1, y, 1, 1), Mix(BarRow(y), kFrameLight, 0.55));
    // Between the transport buttons, the text toggles and the mode toggles.
    Separator(p, 148, 9, 38);
    Separator(p, 179, 9, 38);
    return img;
}

QImage RightPanel() {
    QImage img = NewImage(133, kBarHeight);
    FillBar(img, 0);
    QPainter p(&img);
    for (int y = 0; y < kBarHeight - 1; ++y)
        p.fillRect(QRectF(131, y, 1, 1), Mix(BarRow(y), kOutline, 0.45));
    p.fillRect(132, 0, 1, kBarHeight, kOutline);
    return img;
}

// The input level track: a recessed groove of small segments. 60 is a whole
// number of segments, so tiles join without a seam.
QImage LevelTile() {
    QImage img = NewImage(60, 5);
    QPainter p(&img);
    p.fillRect(0, 0, 60, 1, QColor("#07080a"));
    p.fillRect(0, 1, 60, 3, QColor("#121518"));
    for (int x = 0; x < 60; x += 6)
        p.fillRect(x + 5, 1, 1, 3, QColor("#0a0b0d"));
    for (int x = 0; x < 60; x += 6)
        p.fillRect(x, 1, 5, 1, QColor("#181c20"));
    p.fillRect(0, 4, 60, 1, QColor("#4a5158"));
    return img;
}

// Sound-wave mark used by the logo and the icon: bars of a spoken phrase.
void WaveBars(QPainter& p, const QRectF& r, const QColor& c) {
    static const double heights[] = {0.35, 0.7, 1.0, 0.55, 0.85, 0.4};
    const int n = 6;
    const double step = r.width() / n;
    const double bw = step * 0.56;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (int i = 0; i < n; ++i) {
        const double h = r.height() * heights[i];
        const QRectF bar(r.left() + i * step + (step - bw) / 2, r.center().y() - h / 2, bw, h);
        p.drawRoundedRect(bar, bw / 2, bw / 2);
    }
}

// The mark and the wordmark keep to columns 20..83: in the smallest window
// (600 wide) the mode buttons cover the logo's left end and the volume panel
// its right end, and the name must still show whole.
QImage Logo() {
    QImage img = NewImage(113, 22);
    FillBar(img, kLogoRow);
    QPainter p(&img);
    Antialiased(p);

    // The mark: an amber disc with a voice wave cut in dark.
    const QRectF disc(19.5, 4.5, 14, 14);
    QLinearGradient g(disc.topLeft(), disc.bottomLeft());
    g.setColorAt(0, kAccentLight);
    g.setColorAt(1, kAccentDeep);
    p.setPen(QPen(QColor(0, 0, 0, 150), 1));
    p.setBrush(g);
    p.drawEllipse(disc);
    WaveBars(p, disc.adjusted(2.8, 3.4, -2.8, -3.4), QColor("#2a1a05"));

    // The wordmark, letter-spaced, engraved: a dark line under light letters.
    QFont f = UiFont(11, QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    const QString word = QStringLiteral("VORUR");
    QPainterPath path;
    path.addText(0, 0, f, word);
    const QRectF br = path.boundingRect();
    const double x = std::round(37 - br.left());
    const double y = std::round(11 - (br.top() + br.height() / 2));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 170));
    p.drawPath(path.translated(x, y + 1));
    QLinearGradient tg(0, y + br.top(), 0, y + br.bottom());
    tg.setColorAt(0, QColor("#f3f5f7"));
    tg.setColorAt(1, QColor("#a9b0b7"));
    p.setBrush(tg);
    p.drawPath(path.translated(x, y));
    if (x + br.right() > 83.5)
        std::fprintf(stderr, "skin_gen: the wordmark runs to column %.1f\n", x + br.right());
    return img;
}

// Hourglass beside the pause countdown.
void Hourglass(QPainter& p, const QPointF& c, const QColor& col) {
    QPainterPath glass;
    const double w = 3.2, h = 4.6;
    glass.moveTo(c.x() - w, c.y() - h);
    glass.lineTo(c.x() + w, c.y() - h);
    glass.lineTo(c.x() + 0.6, c.y());
    glass.lineTo(c.x() + w, c.y() + h);
    glass.lineTo(c.x() - w, c.y() + h);
    glass.lineTo(c.x() - 0.6, c.y());
    glass.closeSubpath();
    p.setPen(QPen(col, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(glass);
    // Sand in the lower half.
    QPainterPath sand;
    sand.moveTo(c.x() - 2.2, c.y() + h - 0.6);
    sand.lineTo(c.x() + 2.2, c.y() + h - 0.6);
    sand.lineTo(c.x(), c.y() + 1.6);
    sand.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawPath(sand);
}

void SpeakerGlyph(QPainter& p, const QPointF& c, const QColor& col) {
    QPainterPath body;
    body.moveTo(c.x() - 4.0, c.y() - 1.6);
    body.lineTo(c.x() - 2.2, c.y() - 1.6);
    body.lineTo(c.x() + 0.4, c.y() - 3.8);
    body.lineTo(c.x() + 0.4, c.y() + 3.8);
    body.lineTo(c.x() - 2.2, c.y() + 1.6);
    body.lineTo(c.x() - 4.0, c.y() + 1.6);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawPath(body);
    p.setPen(QPen(col, 0.9, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - 1.6, c.y() - 2.4, 4.4, 4.8), -55 * 16, 110 * 16);
}

void MicGlyph(QPainter& p, const QPointF& c, const QColor& col) {
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawRoundedRect(QRectF(c.x() - 1.5, c.y() - 4.2, 3.0, 5.4), 1.5, 1.5);
    p.setPen(QPen(col, 0.9, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - 2.9, c.y() - 2.6, 5.8, 5.0), 200 * 16, 140 * 16);
    p.drawLine(QPointF(c.x(), c.y() + 2.4), QPointF(c.x(), c.y() + 3.9));
    p.drawLine(QPointF(c.x() - 1.6, c.y() + 4.0), QPointF(c.x() + 1.6, c.y() + 4.0));
}

// The plate behind the two volume sliders and the pause countdown. Inside it
// is exactly the sliders' own grey, so they sit in it without edges.
QImage VolumePanel() {
    QImage img = NewImage(193, 29);
    FillBar(img, kPanel155Row);
    QPainter p(&img);
    Antialiased(p);

    const double left = 82.5;
    const QRectF plate(left, 0.5, 193 - left - 1.0, 40);  // runs out at the bottom
    // Shadow under the plate's edge, then the plate with a lit top line.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawRoundedRect(plate.adjusted(-1, -0.5, 1, 0), 5, 5);
    p.setBrush(kSliderGrey);
    p.drawRoundedRect(plate, 4.5, 4.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(left + 3, 1, plate.width() - 6, 1), QColor("#656b71"));
    p.setRenderHint(QPainter::Antialiasing, true);

    // Countdown window: the player writes the seconds in yellow into
    // (101, 5)-(132, 29); a dark well makes them readable.
    const QRectF well(100.5, 4.5, 32, 22);
    p.setPen(QPen(QColor("#2b2f33"), 1));
    p.setBrush(QColor("#111315"));
    p.drawRoundedRect(well, 3.5, 3.5);
    QLinearGradient shade(0, well.top(), 0, well.top() + 5);
    shade.setColorAt(0, QColor(0, 0, 0, 140));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRoundedRect(well.adjusted(1, 1, -1, -1), 2.5, 2.5);
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    p.drawLine(QPointF(well.left() + 3, well.bottom() + 1), QPointF(well.right() - 3, well.bottom() + 1));

    const QColor glyph("#b9bfc5");
    Hourglass(p, QPointF(91.5, 15.5), glyph);
    // The sliders: the first (playback side) at rows 3..15, the microphone at 15..27.
    SpeakerGlyph(p, QPointF(139.5, 9.0), glyph);
    MicGlyph(p, QPointF(139.5, 21.5), glyph);
    return img;
}

// ---------------------------------------------------------------- buttons

enum State { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };  // strip order

struct Look {
    QColor glyph;
    QColor glyphShadow;
    double dy;  // pressed faces sink by a pixel
};

Look GlyphLook(State s) {
    switch (s) {
    case kHover: return {QColor("#ffffff"), QColor(0, 0, 0, 150), 0};
    case kPressed: return {kAccent, QColor(0, 0, 0, 0), 1};
    case kDisabled: return {QColor("#585d63"), QColor(0, 0, 0, 0), 0};
    default: return {QColor("#d3d8dd"), QColor(0, 0, 0, 140), 0};
    }
}

// A round button body, lit from above.
void RoundChip(QPainter& p, const QRectF& r, State s) {
    QColor top, bottom, rimLight;
    switch (s) {
    case kHover: top = QColor("#535a62"); bottom = QColor("#343a40"); rimLight = QColor(255, 255, 255, 60); break;
    case kPressed: top = QColor("#15171a"); bottom = QColor("#272b30"); rimLight = QColor(255, 255, 255, 0); break;
    case kDisabled: top = QColor("#2d3135"); bottom = QColor("#272a2e"); rimLight = QColor(255, 255, 255, 12); break;
    default: top = QColor("#454b52"); bottom = QColor("#2b3035"); rimLight = QColor(255, 255, 255, 38); break;
    }
    // Drop shadow / outer rim.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, s == kPressed ? 60 : 110));
    p.drawEllipse(r.translated(0, s == kPressed ? 0.4 : 0.9));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(QColor("#0b0c0e"), 1));
    p.setBrush(g);
    p.drawEllipse(r);
    // Lit upper rim, or an inner shadow when pushed in.
    if (s == kPressed) {
        QRadialGradient in(r.center() + QPointF(0, r.height() * 0.18), r.width() * 0.6);
        in.setColorAt(0.75, QColor(0, 0, 0, 0));
        in.setColorAt(1.0, QColor(0, 0, 0, 150));
        p.setPen(Qt::NoPen);
        p.setBrush(in);
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
        p.setPen(QPen(WithAlpha(kAccent, 0.55), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
    } else {
        p.setPen(QPen(rimLight, 1));
        p.setBrush(Qt::NoBrush);
        p.drawArc(r.adjusted(1, 1, -1, -1), 25 * 16, 130 * 16);
    }
}

// The play button's body: the one amber button of the bar.
void AccentChip(QPainter& p, const QRectF& r, State s) {
    QColor top, bottom;
    switch (s) {
    case kHover: top = QColor("#ffdca0"); bottom = QColor("#f59f2f"); break;
    case kPressed: top = QColor("#c9761a"); bottom = QColor("#eda043"); break;
    case kDisabled: top = QColor("#3a3e43"); bottom = QColor("#303438"); break;
    default: top = QColor("#ffca75"); bottom = QColor("#e58e22"); break;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, s == kPressed ? 70 : 120));
    p.drawEllipse(r.translated(0, s == kPressed ? 0.4 : 1.0));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(s == kDisabled ? QColor("#0b0c0e") : QColor("#5a3208"), 1));
    p.setBrush(g);
    p.drawEllipse(r);
    if (s == kPressed) {
        QRadialGradient in(r.center() + QPointF(0, r.height() * 0.2), r.width() * 0.6);
        in.setColorAt(0.7, QColor(0, 0, 0, 0));
        in.setColorAt(1.0, QColor(60, 25, 0, 150));
        p.setPen(Qt::NoPen);
        p.setBrush(in);
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
    } else if (s != kDisabled) {
        // A glossy highlight across the upper half.
        QRectF gloss(r.left() + r.width() * 0.18, r.top() + 1.5, r.width() * 0.64, r.height() * 0.42);
        QLinearGradient gg(gloss.topLeft(), gloss.bottomLeft());
        gg.setColorAt(0, QColor(255, 255, 255, 120));
        gg.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(gg);
        p.drawEllipse(gloss);
    }
}

// A rounded-rectangle toggle body (the mode and text toggles).
void PillBody(QPainter& p, const QRectF& r, double radius, State s) {
    QColor top, bottom, rimLight;
    switch (s) {
    case kHover: top = QColor("#4f565d"); bottom = QColor("#363b41"); rimLight = QColor(255, 255, 255, 55); break;
    case kPressed: top = QColor("#131517"); bottom = QColor("#202327"); rimLight = QColor(0, 0, 0, 0); break;
    case kDisabled: top = QColor("#2c3034"); bottom = QColor("#272a2e"); rimLight = QColor(255, 255, 255, 10); break;
    default: top = QColor("#41474e"); bottom = QColor("#2c3136"); rimLight = QColor(255, 255, 255, 34); break;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, s == kPressed ? 50 : 100));
    p.drawRoundedRect(r.translated(0, s == kPressed ? 0.4 : 0.9), radius, radius);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(QColor("#0b0c0e"), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
    if (s == kPressed) {
        QLinearGradient in(r.topLeft(), r.topLeft() + QPointF(0, std::min(6.0, r.height() / 2)));
        in.setColorAt(0, QColor(0, 0, 0, 150));
        in.setColorAt(1, QColor(0, 0, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(in);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        p.setPen(QPen(WithAlpha(kAccent, 0.6), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    } else {
        p.setPen(QPen(rimLight, 1));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(r.left() + radius, r.top() + 1), QPointF(r.right() - radius, r.top() + 1));
    }
}

// Fills `path` with the state's glyph colour over a soft shadow.
void DrawGlyph(QPainter& p, const QPainterPath& path, State s) {
    const Look look = GlyphLook(s);
    p.setPen(Qt::NoPen);
    if (look.glyphShadow.alpha()) {
        p.setBrush(look.glyphShadow);
        p.drawPath(path.translated(0, look.dy + 1));
    }
    p.setBrush(look.glyph);
    p.drawPath(path.translated(0, look.dy));
}

// A triangle pointing right (dir 1) or left (dir -1), with rounded corners.
QPainterPath Triangle(const QPointF& c, double w, double h, int dir) {
    const double r = 0.9;
    QPainterPath path;
    const QPointF tip(c.x() + dir * w / 2, c.y());
    const QPointF a(c.x() - dir * w / 2, c.y() - h / 2);
    const QPointF b(c.x() - dir * w / 2, c.y() + h / 2);
    // Round the corners by stroking a slightly smaller triangle.
    QPainterPath tri;
    tri.moveTo(a);
    tri.lineTo(tip);
    tri.lineTo(b);
    tri.closeSubpath();
    QPainterPathStroker st;
    st.setWidth(2 * r);
    st.setJoinStyle(Qt::RoundJoin);
    QPainterPath inner;
    const QPointF cen = (a + b + tip) / 3.0;
    auto shrink = [&](const QPointF& v) { return cen + (v - cen) * (1.0 - 2.2 * r / w); };
    inner.moveTo(shrink(a));
    inner.lineTo(shrink(tip));
    inner.lineTo(shrink(b));
    inner.closeSubpath();
    path = inner.united(st.createStroke(inner));
    return path.simplified();
}

QPainterPath RoundedBar(const QRectF& r) {
    QPainterPath p;
    p.addRoundedRect(r, std::min(r.width(), r.height()) / 2.5, std::min(r.width(), r.height()) / 2.5);
    return p;
}

QPainterPath Chevron(const QPointF& c, double w, double h, double thick) {
    QPainterPath line;
    line.moveTo(c.x() - w / 2, c.y() - h / 2);
    line.lineTo(c.x() + w / 2, c.y());
    line.lineTo(c.x() - w / 2, c.y() + h / 2);
    QPainterPathStroker st;
    st.setWidth(thick);
    st.setCapStyle(Qt::RoundCap);
    st.setJoinStyle(Qt::RoundJoin);
    return st.createStroke(line).simplified();
}

QPainterPath TextPath(const QString& text, const QFont& f, const QPointF& centre) {
    QPainterPath path;
    path.addText(0, 0, f, text);
    const QFontMetricsF fm(f);
    const double w = fm.horizontalAdvance(text) - f.letterSpacing();
    // Centre on the cap height, which is what the eye reads as the middle.
    const double capH = fm.capHeight();
    return path.translated(std::round(centre.x() - w / 2) , std::round(centre.y() + capH / 2));
}

using Painter = std::function<void(QPainter&, const QRectF& box, State s)>;

// Four pictures of whole pixels each, one under the other: at 1.5 a picture is
// cut from the strip at a multiple of its own pixel height.
QImage Strip(const StripSpec& spec, const Painter& paint) {
    const int picH = Scaled(spec.h);
    QImage strip(Scaled(spec.w), picH * 4, QImage::Format_RGB32);
    strip.fill(Qt::black);
    for (int k = 0; k < 4; ++k) {
        QImage pic = NewImage(spec.w, spec.h);
        // Bottom-bar rows behind the button, exactly as at its place in the window.
        FillBar(pic, spec.y - kBarTop);
        {
            QPainter p(&pic);
            Antialiased(p);
            paint(p, QRectF(0, 0, spec.w, spec.h), static_cast<State>(k));
        }
        pic.setDevicePixelRatio(1);
        QPainter sp(&strip);
        sp.drawImage(0, k * picH, pic);
    }
    strip.setDevicePixelRatio(g_scale);
    return strip;
}

QRectF CentredSquare(const QRectF& box, double d) {
    return QRectF(box.center().x() - d / 2, box.center().y() - d / 2, d, d);
}

void PaintStop(QPainter& p, const QRectF& box, State s) {
    const QRectF chip = CentredSquare(box, 22);
    RoundChip(p, chip, s);
    QPainterPath g;
    g.addRoundedRect(CentredSquare(chip, 8.4), 1.4, 1.4);
    DrawGlyph(p, g, s);
}

void PaintPrevious(QPainter& p, const QRectF& box, State s) {
    const QRectF chip = CentredSquare(box, 22);
    RoundChip(p, chip, s);
    const QPointF c = chip.center();
    QPainterPath g = Triangle(c + QPointF(1.6, 0), 7.0, 9.0, -1);
    g = g.united(RoundedBar(QRectF(c.x() - 5.0, c.y() - 4.5, 2.0, 9.0)));
    DrawGlyph(p, g, s);
}

void PaintNext(QPainter& p, const QRectF& box, State s) {
    const QRectF chip = CentredSquare(box, 22);
    RoundChip(p, chip, s);
    const QPointF c = chip.center();
    QPainterPath g = Triangle(c + QPointF(-1.6, 0), 7.0, 9.0, 1);
    g = g.united(RoundedBar(QRectF(c.x() + 3.0, c.y() - 4.5, 2.0, 9.0)));
    DrawGlyph(p, g, s);
}

void PaintPlay(QPainter& p, const QRectF& box, State s) {
    const QRectF chip = CentredSquare(box, 27);
    AccentChip(p, chip, s);
    // The triangle's visual centre lies left of its box centre.
    QPainterPath g = Triangle(chip.center() + QPointF(1.2, 0), 10.5, 12.0, 1);
    const double dy = s == kPressed ? 1 : 0;
    p.setPen(Qt::NoPen);
    if (s == kDisabled) {
        p.setBrush(QColor("#5a5f65"));
        p.drawPath(g);
        return;
    }
    if (s != kPressed) {
        p.setBrush(QColor(255, 255, 255, 90));
        p.drawPath(g.translated(0, 1));
    }
    p.setBrush(QColor(s == kHover ? "#1a1206" : "#22180a"));
    p.drawPath(g.translated(0, dy));
}

void PaintAuto(QPainter& p, const QRectF& box, State s) {
    const QRectF chip = CentredSquare(box, 22);
    RoundChip(p, chip, s);
    const QPointF c = chip.center();
    QPainterPath g = Chevron(c + QPointF(-2.2, 0), 4.2, 8.4, 1.9);
    g = g.united(Chevron(c + QPointF(2.4, 0), 4.2, 8.4, 1.9));
    DrawGlyph(p, g, s);
}

void PaintTextToggle(QPainter& p, const QRectF& box, State s, const QString& label, double fontPx) {
    const QRectF body = box.adjusted(1.5, 1.0, -1.5, -1.5);
    PillBody(p, body, body.height() / 2, s);
    QFont f = UiFont(fontPx, QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    DrawGlyph(p, TextPath(label, f, body.center() + QPointF(0, -0.2)), s);
}

void PaintMode(QPainter& p, const QRectF& box, State s, const QString& label) {
    const QRectF body = box.adjusted(1.5, 3.5, -1.5, -3.5);
    PillBody(p, body, 5, s);
    QFont f = UiFont(10, QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.2);
    DrawGlyph(p, TextPath(label, f, body.center() + QPointF(0, -1.2)), s);
    // The mode lamp: lit amber when this mode is on.
    const QRectF lamp(body.center().x() - 7, body.bottom() - 4.2, 14, 2.0);
    QColor lampColour = s == kPressed ? kAccent : (s == kDisabled ? QColor("#24272a") : QColor("#1b1e21"));
    p.setPen(Qt::NoPen);
    if (s == kPressed) {
        QRadialGradient glow(lamp.center() + QPointF(0, 1), 10);
        glow.setColorAt(0, WithAlpha(kAccent, 0.45));
        glow.setColorAt(1, WithAlpha(kAccent, 0.0));
        p.setBrush(glow);
        p.drawEllipse(lamp.center() + QPointF(0, 1), 10, 4);
    }
    p.setBrush(lampColour);
    p.drawRoundedRect(lamp.translated(0, s == kPressed ? 1 : 0), 1, 1);
}

// The window buttons are glyphs on the bar; a backdrop shows on hover and press.
void WindowBackdrop(QPainter& p, const QRectF& r, State s, bool danger) {
    if (s != kHover && s != kPressed)
        return;
    QColor top, bottom;
    if (danger) {
        top = s == kHover ? QColor("#e0524a") : QColor("#9c2a24");
        bottom = s == kHover ? QColor("#b8322b") : QColor("#b83a32");
    } else {
        top = s == kHover ? QColor("#50575f") : QColor("#16181b");
        bottom = s == kHover ? QColor("#393f45") : QColor("#24282c");
    }
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(QColor("#0b0c0e"), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 4, 4);
    if (s == kHover) {
        p.setPen(QPen(QColor(255, 255, 255, danger ? 70 : 45), 1));
        p.drawLine(QPointF(r.left() + 3, r.top() + 1), QPointF(r.right() - 3, r.top() + 1));
    }
}

Look WindowGlyphLook(State s, bool danger) {
    Look l = GlyphLook(s);
    if (s == kNormal)
        l.glyph = QColor("#bcc2c8");
    if (s == kPressed)
        l.glyph = danger ? QColor("#ffe2df") : kAccent;
    return l;
}

void StrokeGlyph(QPainter& p, const QPainterPath& path, State s, bool danger, double width) {
    const Look look = WindowGlyphLook(s, danger);
    p.setBrush(Qt::NoBrush);
    if (look.glyphShadow.alpha()) {
        p.setPen(QPen(look.glyphShadow, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(path.translated(0, look.dy + 1));
    }
    p.setPen(QPen(look.glyph, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path.translated(0, look.dy));
}

void PaintMinimise(QPainter& p, const QRectF& box, State s) {
    WindowBackdrop(p, box.adjusted(1.5, 3.5, -1.5, -3.5), s, false);
    QPainterPath g;
    const QPointF c = box.center();
    g.moveTo(c.x() - 4, c.y() + 3);
    g.lineTo(c.x() + 4, c.y() + 3);
    StrokeGlyph(p, g, s, false, 1.8);
}

void PaintMaximise(QPainter& p, const QRectF& box, State s) {
    WindowBackdrop(p, box.adjusted(1.5, 3.5, -1.5, -3.5), s, false);
    QPainterPath g;
    const QPointF c(std::round(box.center().x()) , std::round(box.center().y()));
    g.addRoundedRect(QRectF(c.x() - 4.5, c.y() - 4.0, 9, 8.5), 1.2, 1.2);
    // A heavier top line, as on a window's own title bar.
    g.moveTo(c.x() - 4.0, c.y() - 3.2);
    g.lineTo(c.x() + 4.0, c.y() - 3.2);
    StrokeGlyph(p, g, s, false, 1.4);
}

void PaintClose(QPainter& p, const QRectF& box, State s) {
    WindowBackdrop(p, box.adjusted(1.5, 3.5, -1.5, -3.5), s, true);
    QPainterPath g;
    const QPointF c = box.center();
    const double r = 4.3;
    g.moveTo(c.x() - r, c.y() - r);
    g.lineTo(c.x() + r, c.y() + r);
    g.moveTo(c.x() + r, c.y() - r);
    g.lineTo(c.x() - r, c.y() + r);
    StrokeGlyph(p, g, s, true, 1.8);
}

Painter PainterFor(int id) {
    switch (id) {
    case 130: return PaintStop;
    case 136: return PaintPrevious;
    case 135: return PaintPlay;
    case 134: return PaintNext;
    case 148: return PaintAuto;
    case 151: return [](QPainter& p, const QRectF& b, State s) { PaintTextToggle(p, b, s, "QT", 8.0); };
    case 152: return [](QPainter& p, const QRectF& b, State s) { PaintTextToggle(p, b, s, "AT", 8.0); };
    case 156: return [](QPainter& p, const QRectF& b, State s) { PaintMode(p, b, s, "Prac"); };
    case 147: return [](QPainter& p, const QRectF& b, State s) { PaintMode(p, b, s, "Test"); };
    case 133: return PaintMinimise;
    case 132: return PaintMaximise;
    case 131: return PaintClose;
    default: return [](QPainter&, const QRectF&, State) {};
    }
}

// ---------------------------------------------------------------- icon

QImage Icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Antialiased(p);
    const double s = size / 256.0;
    const QRectF tile(8 * s, 8 * s, 240 * s, 240 * s);
    QLinearGradient bg(tile.topLeft(), tile.bottomLeft());
    bg.setColorAt(0, QColor("#3c434a"));
    bg.setColorAt(1, QColor("#1b1e21"));
    p.setPen(size >= 32 ? QPen(QColor("#0b0c0e"), std::max(1.0, 4 * s)) : Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(tile, 52 * s, 52 * s);
    // Speech bubble in amber, with a voice wave inside.
    const QRectF bubble(44 * s, 50 * s, 168 * s, 124 * s);
    QPainterPath b;
    b.addRoundedRect(bubble, 40 * s, 40 * s);
    QPainterPath tail;
    tail.moveTo(84 * s, 160 * s);
    tail.lineTo(74 * s, 212 * s);
    tail.lineTo(124 * s, 166 * s);
    tail.closeSubpath();
    b = b.united(tail);
    QLinearGradient bg2(bubble.topLeft(), bubble.bottomLeft());
    bg2.setColorAt(0, kAccentLight);
    bg2.setColorAt(1, kAccentDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(bg2);
    p.drawPath(b);
    WaveBars(p, bubble.adjusted(30 * s, 28 * s, -30 * s, -28 * s), QColor("#2a1a05"));
    return img;
}

// A lesson file: a sheet of paper with a folded corner, carrying the player's
// bubble, so that file managers show whose files these are.
QImage LessonFileIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Antialiased(p);
    const double s = size / 256.0;
    const double fold = 56 * s;
    const QRectF sheet(36 * s, 12 * s, 184 * s, 232 * s);
    QPainterPath page;
    page.moveTo(sheet.topLeft());
    page.lineTo(sheet.right() - fold, sheet.top());
    page.lineTo(sheet.right(), sheet.top() + fold);
    page.lineTo(sheet.bottomRight());
    page.lineTo(sheet.bottomLeft());
    page.closeSubpath();
    QLinearGradient paper(sheet.topLeft(), sheet.bottomLeft());
    paper.setColorAt(0, QColor("#fbfbf8"));
    paper.setColorAt(1, QColor("#dcdcd6"));
    p.setPen(QPen(QColor("#5b6168"), std::max(1.0, 5 * s)));
    p.setBrush(paper);
    p.drawPath(page);
    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    corner.closeSubpath();
    p.setBrush(QColor("#b9bcc0"));
    p.drawPath(corner);
    const QRectF bubble(66 * s, 104 * s, 124 * s, 92 * s);
    QLinearGradient amber(bubble.topLeft(), bubble.bottomLeft());
    amber.setColorAt(0, kAccentLight);
    amber.setColorAt(1, kAccentDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(amber);
    p.drawRoundedRect(bubble, 30 * s, 30 * s);
    WaveBars(p, bubble.adjusted(22 * s, 20 * s, -22 * s, -20 * s), QColor("#2a1a05"));
    return img;
}

// ---------------------------------------------------------------- output

bool Save(const QImage& img, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Opaque pictures are written without an alpha channel (24 bits per pixel).
    const QImage out = img.hasAlphaChannel() ? img : img.convertToFormat(QImage::Format_RGB888);
    if (!out.save(path, "PNG")) {
        std::fprintf(stderr, "skin_gen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage PieceImage(int id) {
    switch (id) {
    case 137: return TopEdge(32);
    case 141: return TopLeft();
    case 144: return TopRight();
    case 139: return LeftEdge(53);
    case 142: return RightEdge(56);
    case 138: return BarTile();
    case 140: return LeftPanel();
    case 143: return RightPanel();
    case 153: return Logo();
    case 155: return VolumePanel();
    case 163: return LevelTile();
    default: return QImage();
    }
}

int Generate(const QString& outDir) {
    bool ok = true;
    for (const auto& [scale, suffix] : kScales) {
        g_scale = scale;
        for (const PieceSpec& piece : kPieces) {
            const QImage img = PieceImage(piece.id);
            if (img.size() != QSize(Scaled(piece.w), Scaled(piece.h))) {
                std::fprintf(stderr, "skin_gen: piece %d has the wrong size at %.1f\n", piece.id, scale);
                return 1;
            }
            ok &= Save(img, QStringLiteral("%1/bitmaps/%2%3.png").arg(outDir).arg(piece.id).arg(suffix));
        }
        for (const StripSpec& spec : kStrips)
            ok &= Save(Strip(spec, PainterFor(spec.id)),
                       QStringLiteral("%1/bitmaps/%2%3.png").arg(outDir).arg(spec.id).arg(suffix));
    }
    g_scale = 1.0;
    ok &= Save(Icon(256), QStringLiteral("%1/icons/128.png").arg(outDir));
    for (int size : {16, 24, 32, 48, 64})
        ok &= Save(Icon(size), QStringLiteral("%1/icons/128-%2.png").arg(outDir).arg(size));
    for (int size : {16, 24, 32, 48, 64, 256})
        ok &= Save(LessonFileIcon(size), QStringLiteral("%1/icons/lesson-%2.png").arg(outDir).arg(size));
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------- contact sheet

QImage Load(const QString& dir, int id) {
    return QImage(QStringLiteral("%1/bitmaps/%2.png").arg(dir).arg(id)).convertToFormat(QImage::Format_RGB32);
}

// The window's skin put together the way the player paints it, with the
// buttons at their places (`checked` ids show their pressed face, `disabled`
// ids their disabled one) and the level bar part-filled.
QImage Composite(const QString& dir, int W, int H, const std::vector<int>& checked,
                 const std::vector<int>& disabled, int levelPercent, const char* countdown) {
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(QColor(207, 207, 207));
    QPainter p(&img);
    auto draw = [&](int id, int x, int y) { p.drawImage(x, y, Load(dir, id)); };
    const QImage b137 = Load(dir, 137), b141 = Load(dir, 141), b144 = Load(dir, 144), b139 = Load(dir, 139),
                 b142 = Load(dir, 142), b138 = Load(dir, 138), b140 = Load(dir, 140), b143 = Load(dir, 143),
                 b153 = Load(dir, 153), b163 = Load(dir, 163);
    for (int x = b141.width(); x < W; x += b137.width())
        p.drawImage(x, 0, b137);
    p.drawImage(0, 0, b141);
    p.drawImage(W - b144.width(), 0, b144);
    for (int y = b141.height(); y < H; y += b139.height())
        p.drawImage(0, y, b139);
    for (int y = b144.height(); y < H; y += b142.height())
        p.drawImage(W - b142.width(), y, b142);
    for (int x = b140.width(); x < W; x += b138.width())
        p.drawImage(x, H - b138.height(), b138);
    p.drawImage(0, H - b140.height(), b140);
    p.drawImage(W - b143.width(), H - b143.height(), b143);
    p.drawImage((W - b153.width()) / 2, H - b140.height() + (b140.height() - b153.height()) / 2 + 3, b153);
    draw(155, W - 273, H - 35);
    // The view.
    p.fillRect(QRect(3, 2, W - 6, H - 45), Qt::black);
    // Countdown.
    if (countdown) {
        QFont f(QStringLiteral("NanumGothic"));
        f.setPixelSize(12);
        p.setFont(f);
        p.setPen(QColor(255, 255, 0));
        p.drawText(QRect(W - 172, H - 30, 31, 24), Qt::AlignCenter, QString::fromUtf8(countdown));
    }
    // Level bar.
    const int x0 = 5, x1 = W - 5, yb = H - 37, yt = yb - b163.height();
    for (int x = x0; x < x1; x += b163.width())
        p.drawImage(QPoint(x, yt), b163, QRect(0, 0, std::min(b163.width(), x1 - x), b163.height()));
    p.fillRect(QRect(x0, yt, std::min(x1 - x0, int(levelPercent / 100.0 * (x1 - x0))), yb - yt),
               QColor(254, 212, 128));
    // Sliders, roughly as the standard style draws them on their grey.
    for (int i = 0; i < 2; ++i) {
        const QRect sr(W - 128, H - 32 + i * 12, 44, 13);
        p.fillRect(sr, kSliderGrey);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor("#25292c"), 1));
        p.setBrush(QColor("#2f3336"));
        p.drawRoundedRect(QRectF(sr.left() + 2.5, sr.center().y() - 1.5, sr.width() - 5, 3), 1.5, 1.5);
        p.setPen(QPen(QColor("#1b1d1f"), 1));
        p.setBrush(QColor("#9aa0a6"));
        const double hx = sr.left() + 6 + (sr.width() - 12) * (i == 0 ? 0.7 : 0.45);
        p.drawRoundedRect(QRectF(hx - 3, sr.top() + 1.5, 6, sr.height() - 3), 1.5, 1.5);
        p.setRenderHint(QPainter::Antialiasing, false);
    }
    for (const StripSpec& s : kStrips) {
        const QImage strip = Load(dir, s.id);
        int frame = 0;
        if (std::find(disabled.begin(), disabled.end(), s.id) != disabled.end())
            frame = 3;
        else if (std::find(checked.begin(), checked.end(), s.id) != checked.end())
            frame = 2;
        const bool right = s.x >= 600;
        const int x = right ? W - (kWindowW - s.x) : s.x;
        const int y = H - (kWindowH - s.y);
        p.drawImage(QPoint(x, y), strip, QRect(0, frame * s.h, s.w, s.h));
    }
    return img;
}

int Sheet(const QString& dir, const QString& file) {
    const int scale = 4;
    const int margin = 24;
    const int sheetW = 1700;
    QImage sheet(sheetW, 3000, QImage::Format_RGB32);
    sheet.fill(QColor("#eceef0"));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont label(QStringLiteral("DejaVu Sans"));
    label.setPixelSize(15);
    QFont title = label;
    title.setPixelSize(22);
    title.setBold(true);
    p.setPen(QColor("#1b1e21"));
    int y = margin;
    auto heading = [&](const QString& t) {
        p.setFont(title);
        p.setPen(QColor("#1b1e21"));
        p.drawText(margin, y + 22, t);
        y += 36;
    };

    heading(QStringLiteral("Bottom of the 800 x 600 window (x2): Prac checked, QT checked, Previous disabled"));
    const QImage full = Composite(dir, kWindowW, kWindowH, {156, 151}, {136}, 62, "5");
    const QImage bottom = full.copy(0, kWindowH - 60, kWindowW, 60);
    p.drawImage(QRect(margin, y, kWindowW * 2, 120), bottom);
    y += 120 + 12;
    heading(QStringLiteral("Test checked, >> and AT checked, Play disabled, level over 100 %"));
    const QImage full2 = Composite(dir, kWindowW, kWindowH, {147, 148, 152}, {135}, 112, "12");
    p.drawImage(QRect(margin, y, kWindowW * 2, 120), full2.copy(0, kWindowH - 60, kWindowW, 60));
    y += 120 + 12;
    heading(QStringLiteral("Smallest window, 600 x 450 (x1), and the top-left / top-right corners (x8)"));
    const QImage small = Composite(dir, 600, 450, {156}, {}, 30, nullptr);
    p.drawImage(margin, y, small.scaled(600, 450));
    const QImage tl = full.copy(0, 0, 24, 12), tr = full.copy(kWindowW - 24, 0, 24, 12);
    const QImage bl = full.copy(0, kWindowH - 12, 24, 12), brc = full.copy(kWindowW - 24, kWindowH - 12, 24, 12);
    p.drawImage(QRect(margin + 640, y, 192, 96), tl);
    p.drawImage(QRect(margin + 850, y, 192, 96), tr);
    p.drawImage(QRect(margin + 640, y + 110, 192, 96), bl);
    p.drawImage(QRect(margin + 850, y + 110, 192, 96), brc);
    const QImage icon(QStringLiteral("%1/icons/128.png").arg(dir));
    p.drawImage(QRect(margin + 1070, y, 256, 256), icon);
    int ix = margin + 1070;
    for (int size : {64, 48, 32, 24, 16}) {
        p.drawImage(ix, y + 270, QImage(QStringLiteral("%1/icons/128-%2.png").arg(dir).arg(size)));
        ix += size + 12;
    }
    y += 450 + 16;

    heading(QStringLiteral("Button strips (x4): normal, hover, pressed / checked, disabled"));
    int x = margin;
    int rowH = 0;
    p.setFont(label);
    for (const StripSpec& s : kStrips) {
        const QImage strip = Load(dir, s.id);
        const int w = s.w * scale * 4 + 3 * 6;
        if (x + w > sheetW - margin) {
            x = margin;
            y += rowH + 30;
            rowH = 0;
        }
        p.setPen(QColor("#1b1e21"));
        p.drawText(x, y + 14, QStringLiteral("%1 %2 (%3x%4)").arg(s.id).arg(s.name).arg(s.w).arg(s.h * 4));
        for (int k = 0; k < 4; ++k)
            p.drawImage(QRect(x + k * (s.w * scale + 6), y + 20, s.w * scale, s.h * scale),
                        strip.copy(0, k * s.h, s.w, s.h));
        rowH = std::max(rowH, s.h * scale + 20);
        x += w + 30;
    }
    y += rowH + 40;

    heading(QStringLiteral("Skin bitmaps (x4)"));
    x = margin;
    rowH = 0;
    p.setFont(label);
    for (const PieceSpec& piece : kPieces) {
        const QImage img = Load(dir, piece.id);
        const int w = std::max(piece.w * scale, 150);
        if (x + w > sheetW - margin) {
            x = margin;
            y += rowH + 30;
            rowH = 0;
        }
        p.setPen(QColor("#1b1e21"));
        p.drawText(x, y + 14, QStringLiteral("%1 %2 (%3x%4)").arg(piece.id).arg(piece.name).arg(piece.w).arg(piece.h));
        p.drawImage(QRect(x, y + 20, piece.w * scale, piece.h * scale), img);
        rowH = std::max(rowH, piece.h * scale + 20);
        x += w + 30;
    }
    y += rowH + margin;
    p.end();
    return sheet.copy(0, 0, sheetW, y).save(file, "PNG") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--sheet"))
        return Sheet(args[2], args[3]);
    if (args.size() == 2)
        return Generate(args[1]);
    std::fprintf(stderr, "usage: skin_gen OUTDIR | skin_gen --sheet OUTDIR FILE\n");
    return 2;
}
