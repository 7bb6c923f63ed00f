#include "download_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QTimerEvent>
#include <climits>

namespace {
// A dialog the window system never shows (nothing exposes it) still starts its
// transfer after this long.
constexpr int kUnshownStartMs = 1000;
constexpr int kBarPeriodMs = 16;
}

QRect CDownloadDlg::DialogUnitsToPixels(const QFont& font, const QRect& units) {
    QFontMetrics fm(font);
    // The average width of the 52 letters, rounded, as dialog units are defined.
    int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    int baseX = (width / 26 + 1) / 2;
    int baseY = fm.height();
    return QRect(units.x() * baseX / 4, units.y() * baseY / 8, units.width() * baseX / 4,
                 units.height() * baseY / 8);
}

CDownloadDlg::CDownloadDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("자료받기"));
    QFont font(QString::fromUtf8("굴림"));
    font.setPointSize(9);
    setFont(font);

    auto* text = new QLabel(QString::fromUtf8("자료를 받고있습니다. 잠시만 기다려 주세요.."), this);
    text->setGeometry(DialogUnitsToPixels(font, QRect(7, 11, 173, 18)));
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setWordWrap(true);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("1020"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setGeometry(DialogUnitsToPixels(font, QRect(7, 34, 173, 14)));

    QRect client = DialogUnitsToPixels(font, QRect(0, 0, 187, 69));
    setFixedSize(client.size());
    // A caption with a close button and nothing else.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

CDownloadDlg::~CDownloadDlg() = default;

int CDownloadDlg::DoModal() {
    if (!OnInitDialog())
        return IDCANCEL;
    int result = exec();
    return result == IDOK ? IDOK : IDCANCEL;
}

bool CDownloadDlg::OnInitDialog() {
    // The window is on screen before any network activity starts: the transfer
    // begins right after the first paint (see paintEvent).
    m_nTimer = startTimer(kUnshownStartMs);
    return true;
}

void CDownloadDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Queued: the label and bar paint in this same pass and go to the screen
    // before the transfer takes over.
    if (m_nTimer != 0 && !m_bStartQueued) {
        m_bStartQueued = true;
        QMetaObject::invokeMethod(this, [this] { OnTimer(1); }, Qt::QueuedConnection);
    }
}

void CDownloadDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimer)
        OnTimer(1);
    QDialog::timerEvent(event);
}

void CDownloadDlg::OnTimer(int id) {
    if (id != 1 || m_nTimer == 0)
        return;
    // Once only: a late tick or paint must not start a second transfer.
    killTimer(m_nTimer);
    m_nTimer = 0;
    CUrlDownload download;
    m_bTransferring = true;
    bool ok = download.Download(this, m_strUrl, m_strLocalPath);
    m_bTransferring = false;
    m_strError = m_bCancelRequested ? "closed during the transfer" : download.m_strError;
    done(ok && !m_bCancelRequested ? IDOK : IDCANCEL);
}

void CDownloadDlg::NeverStart() {
    // A start already queued by the first paint finds no timer and does nothing.
    if (m_nTimer != 0) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
}

void CDownloadDlg::closeEvent(QCloseEvent* event) {
    if (m_bTransferring) {
        // The transfer notices at its next pump and ends the dialog itself.
        m_bCancelRequested = true;
        event->ignore();
        return;
    }
    m_strError = "closed before the transfer began";
    NeverStart();
    QDialog::closeEvent(event);
}

void CDownloadDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_bTransferring) {
        m_bCancelRequested = true;
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        m_strError = "closed before the transfer began";
        NeverStart();
        done(IDCANCEL);
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CUrlDownload::Download(CDownloadDlg* dialog, const std::string& url, const std::string& localPath) {
    m_pDialog = dialog;
    return FetchUrlToFile(url, localPath, this, &m_strError);
}

void CUrlDownload::OnProgress(uint64_t progress, uint64_t maximum, uint32_t statusCode) {
    if (!m_pDialog || !m_pDialog->m_progress)
        return;
    QProgressBar* bar = m_pDialog->m_progress;
    if (statusCode == 4) {
        m_nScale = 1;
        while (maximum / m_nScale > static_cast<uint64_t>(INT_MAX))
            m_nScale *= 2;
        bar->setRange(0, static_cast<int>(maximum / m_nScale));
        bar->setValue(static_cast<int>(std::min(progress, maximum) / m_nScale));
    } else if (statusCode == 5) {
        uint64_t value = progress / m_nScale;
        // The bar repaints at once on every change: at most once a frame, and at the end.
        const bool last = value == static_cast<uint64_t>(bar->maximum());
        if (value <= static_cast<uint64_t>(bar->maximum()) &&
            (last || !m_shown.isValid() || m_shown.elapsed() >= kBarPeriodMs)) {
            bar->setValue(static_cast<int>(value));
            m_shown.start();
        }
    }
}

bool CUrlDownload::Pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !(m_pDialog && m_pDialog->m_bCancelRequested);
}
