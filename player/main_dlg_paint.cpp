// Painting: skin frame and bottom bar, countdown, page view with picture and texts,
// and the level bar.
#include <malloc.h>

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QTimer>

#include "codepage.h"
#include "main_dlg.h"
#include "tick_clock.h"

namespace {

const QColor kWindowBackground(207, 207, 207);
const QColor kViewBackground(0, 0, 0);
const QColor kTextBeside(255, 255, 255);
const QColor kTextOver(0, 0, 0);
const QColor kCountdown(255, 255, 0);
const QColor kLevelFill(254, 212, 128);
constexpr int kTrimAfterMs = 1000;

QRect ToQRect(const RectL& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

QString Display(const std::string& cp949) {
    std::string utf8;
    Cp949ToUtf8(cp949, utf8);
    return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
}

}  // namespace

void CMainDlg::paintEvent(QPaintEvent* event) {
    // Qt's backing store already double-buffers: the composed frame is copied
    // straight onto it, and only what changes between compositions goes on top.
    QPainter dc(this);
    const QImage& frame = Composition(dc);
    const QRect area = event->rect() & rect();
    const qreal dpr = frame.devicePixelRatio();
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(area, frame, QRectF(area.x() * dpr, area.y() * dpr, area.width() * dpr, area.height() * dpr));
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    DrawCountdown(dc);
    DrawLevelFill(dc);
}

const QImage& CMainDlg::Composition(QPainter& target) {
    CCfgPack* pack = m_bLessonLoaded ? m_cfg.GetPack(m_nCurPage) : nullptr;
    CompositionKey key;
    key.size = size();
    key.dpr = devicePixelRatioF();
    key.picture = m_picture.GetSerial();
    key.page = m_bLessonLoaded ? m_nCurPage : -1;
    key.flags = (m_bShowQuestion ? 1 : 0) | (m_bShowAnswer ? 2 : 0) | (m_bTestMode ? 4 : 0) |
                (m_cfg.textBesidePicture ? 8 : 0);
    key.fontSize = pack ? static_cast<int>(pack->fontSize) : 0;
    key.dpiY = logicalDpiY();
    if (!m_composed.isNull() && key == m_composedKey)
        return m_composed;

    // In the format of the surface it is copied to, so the copy is a plain blit.
    QImage::Format format = QImage::Format_ARGB32_Premultiplied;
    const QPaintDevice* surface = target.paintEngine() ? target.paintEngine()->paintDevice() : nullptr;
    if (surface && surface->devType() == QInternal::Image) {
        const QImage::Format f = static_cast<const QImage*>(surface)->format();
        if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32_Premultiplied)
            format = f;
    }
    const QSize pixels(qMax(1, qRound(width() * key.dpr)), qMax(1, qRound(height() * key.dpr)));
    if (m_composed.size() != pixels || m_composed.format() != format)
        m_composed = QImage(pixels, format);
    m_composed.setDevicePixelRatio(key.dpr);
    // Texts are measured and drawn for the window's resolution.
    m_composed.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    m_composed.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    {
        QPainter dc(&m_composed);
        // Every pixel is filled once: the frame's background, which the skin
        // covers where its pieces are, and the view, by DrawPage.
        QRegion frame(rect());
        frame -= ToQRect(m_rcView);
        for (const QRect& r : frame)
            dc.fillRect(r, kWindowBackground);
        DrawSkin(dc);
        DrawPage(dc);
        DrawLevelTiles(dc);
    }
    // The composition is the picture's one copy now; another composition decodes
    // it again at the size it then needs.
    m_picture.ReleasePixels();
#ifdef __GLIBC__
    // The decode's temporaries (a large JPEG at half its size is some megabytes)
    // and the start's would otherwise stay in the heap, counted against the player
    // while it sits on the page. Handed back once the pages stop changing, so that
    // quick page changes reuse them.
    const int composition = m_nCompositions + 1;
    QTimer::singleShot(kTrimAfterMs, this, [this, composition] {
        if (composition == m_nCompositions)
            malloc_trim(0);
    });
#endif
    m_composedKey = key;
    ++m_nCompositions;
    return m_composed;
}

void CMainDlg::DrawSkin(QPainter& dc) {
    const int W = width();
    const int H = height();
    auto size = [this](int id) { return m_skin[id].GetSize(); };

    // A missing piece (size 0) is never tiled: its loop would not advance.
    if (size(137).width() > 0)
        for (int x = size(141).width(); x < W; x += size(137).width())
            m_skin[137].Draw(dc, x, 0);
    m_skin[141].Draw(dc, 0, 0);
    m_skin[144].Draw(dc, W - size(144).width(), 0);
    if (size(139).height() > 0)
        for (int y = size(141).height(); y < H; y += size(139).height())
            m_skin[139].Draw(dc, 0, y);
    if (size(142).height() > 0)
        for (int y = size(144).height(); y < H; y += size(142).height())
            m_skin[142].Draw(dc, W - size(142).width(), y);
    if (size(138).width() > 0)
        for (int x = size(140).width(); x < W; x += size(138).width())
            m_skin[138].Draw(dc, x, H - size(138).height());
    m_skin[140].Draw(dc, 0, H - size(140).height());
    m_skin[143].Draw(dc, W - size(143).width(), H - size(143).height());

    QSize logo = size(153);
    int h140 = size(140).height();
    m_skin[153].Draw(dc, (W - logo.width()) / 2, H - h140 + (h140 - logo.height()) / 2 + 3);
    m_skin[155].Draw(dc, W - 273, H - 35);
}

CPicture::ShownSize CMainDlg::ShownPictureSize() const {
    // Taken from the window now; the result may be used on another thread.
    const RectL area = PictureArea(m_rcView, m_cfg.textBesidePicture != 0);
    const int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    const qreal dpr = devicePixelRatioF();
    return [area, dpiX, dpiY, dpr](const QSize& himetric) {
        const QSize natural = CPicture::HimetricToPixels(himetric, dpiX, dpiY);
        PictureFit fit = FitPicture(area, natural.width(), natural.height());
        if (fit.dw <= 0 || fit.dh <= 0)
            return QSize();
        // As CPicture::Draw sizes it for this window.
        return QSize(qMax(1, qRound(fit.dw * dpr)), qMax(1, qRound(fit.dh * dpr)));
    };
}

QRect CMainDlg::CountdownRect() const { return ToQRect(::CountdownRect(width(), height())); }

void CMainDlg::DrawCountdown(QPainter& dc) {
    if (!CountdownShows())
        return;
    CCfgPack* pack = m_cfg.GetPack(m_nCurPage);
    DWORD wait = pack ? pack->waitSeconds : 0;
    int remaining = CountdownSeconds(wait, Now(), m_dwWaitStart);
    CAutoFont countdownFont;
    countdownFont.SetFaceName("굴림");
    countdownFont.SetHeight(-12);
    dc.save();
    dc.setPen(kCountdown);
    dc.setFont(countdownFont.font(dc.device()));
    dc.drawText(CountdownRect(), Qt::AlignCenter | Qt::TextSingleLine, QString::number(remaining));
    dc.restore();
}

void CMainDlg::DrawPage(QPainter& dc) {
    const RectL& view = m_rcView;
    dc.fillRect(ToQRect(view), kViewBackground);

    const bool beside = m_cfg.textBesidePicture != 0;
    RectL area = PictureArea(view, beside);
    PictureFit fit;
    if (m_picture.IsLoaded()) {
        QSize size = m_picture.GetSizeInPixels(this);
        fit = FitPicture(area, size.width(), size.height());
        m_picture.Draw(dc, fit.x, fit.y, fit.dw, fit.dh);
    }

    CCfgPack* pack = m_bLessonLoaded ? m_cfg.GetPack(m_nCurPage) : nullptr;
    if (!pack)
        return;

    RectL tr = TextRect(view, fit, beside);
    m_fontText.SetHeight(FontHeightForPoints(static_cast<int>(pack->fontSize), logicalDpiY()));
    const bool showQuestion = m_bShowQuestion && !m_bTestMode && !pack->questionText.empty();
    const bool showAnswer = m_bShowAnswer && !m_bTestMode && !pack->answerText.empty();
    if (!showQuestion && !showAnswer)
        return;
    // Rectangles of no width (a page whose picture did not load) get no text.
    if (tr.Width() <= 0)
        return;

    dc.save();
    const QFont& font = m_fontText.font(dc.device());
    dc.setFont(font);
    dc.setPen(beside ? kTextBeside : kTextOver);
    QFontMetrics fm(font, dc.device());
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    QString question = showQuestion ? Display(pack->questionText) : QString();
    QString answer = showAnswer ? Display(pack->answerText) : QString();
    int qh = showQuestion ? fm.boundingRect(QRect(0, 0, tr.Width(), 1 << 20), flags, question).height() : 0;
    int ah = showAnswer ? fm.boundingRect(QRect(0, 0, tr.Width(), 1 << 20), flags, answer).height() : 0;
    RectL qr, ar;
    PlaceTexts(tr, beside, showQuestion, qh, showAnswer, ah, qr, ar);
    if (showAnswer)
        dc.drawText(ToQRect(ar), flags, answer);
    if (showQuestion)
        dc.drawText(ToQRect(qr), flags, question);
    dc.restore();
}

QRect CMainDlg::LevelBarRect() const {
    int tileHeight = m_skin.count(163) ? m_skin.at(163).GetSize().height() : 0;
    return ToQRect(LevelBar(width(), height(), tileHeight));
}

void CMainDlg::DrawLevel(QPainter* dc) {
    if (!dc) {
        // Straight to the window, without waiting for the next full repaint.
        if (!m_bDestroyed && isVisible())
            repaint(LevelBarRect().adjusted(0, 0, 1, 0));
        return;
    }
    DrawLevelTiles(*dc);
    DrawLevelFill(*dc);
}

void CMainDlg::DrawLevelTiles(QPainter& dc) {
    CKtBitmap& tile = m_skin[163];
    QSize t = tile.GetSize();
    RectL bar = LevelBar(width(), height(), t.height());
    if (t.width() > 0)
        for (int x = bar.left; x < bar.right; x += t.width())
            tile.DrawPart(dc, x, bar.top, std::min(t.width(), bar.right - x), t.height(), 0, 0);
}

void CMainDlg::DrawLevelFill(QPainter& dc) {
    RectL bar = LevelBar(width(), height(), m_skin[163].GetSize().height());
    int right = LevelFillRight(m_nLevel, bar);
    if (right > bar.left)
        dc.fillRect(QRect(bar.left, bar.top, right - bar.left, bar.Height()), kLevelFill);
}

void CMainDlg::OnRecordLevel(WPARAM level) {
    m_nLevel = LevelFromMessage(level);
    DrawLevel(nullptr);
}
