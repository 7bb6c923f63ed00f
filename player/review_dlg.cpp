#include "review_dlg.h"

#include <sys/stat.h>

#include <algorithm>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "diagnostics.h"
#include "mp3_recorder.h"
#include "qt_services.h"
#include "sound_output.h"

namespace {

// Often enough for the seconds to turn over smoothly, rarely enough to cost nothing.
constexpr int kPollMs = 100;
// Takes are decoded whole by the page-sound output, which refuses a sound of more
// than about twelve minutes; a take that fails to open and is this long was refused
// for its length, not for damage.
constexpr uint64_t kLongTakeSeconds = 10 * 60;

// "m:ss", or "h:mm:ss" from an hour on.
QString FormatTime(DWORD ms) {
    const DWORD s = ms / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10,
                                                                                                  QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

CReviewDlg::CReviewDlg(const std::string& question, const std::string& recordingPath, ISoundOutput* output,
                       QWidget* parent)
    : QDialog(parent), m_player(output) {
    setWindowTitle(ApplicationTitle());
    setModal(true);
    // A screen reader announces the question with the box, as it does a message box's.
    setAccessibleDescription(QString::fromStdString(question));

    auto* text = new QLabel(QString::fromStdString(question), this);
    // As in the message boxes: never markup, and copyable.
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_pListen = new QPushButton(this);
    m_pBar = new QProgressBar(this);
    m_pBar->setTextVisible(false);
    m_pBar->setMinimumWidth(160);
    m_pBar->setAccessibleName(QStringLiteral("재생 위치"));
    m_pTime = new QLabel(this);
    m_pTime->setTextFormat(Qt::PlainText);

    // Qt's own 예 and 아니요, as the plain question shows them.
    auto* answers = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, this);
    m_pYes = answers->button(QDialogButtonBox::Yes);
    m_pNo = answers->button(QDialogButtonBox::No);
    m_pYes->setAccessibleName(QStringLiteral("예"));
    m_pNo->setAccessibleName(QStringLiteral("아니요"));
    connect(answers, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(answers, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pListen, &QPushButton::clicked, this, [this] { OnListen(); });
    connect(&m_poll, &QTimer::timeout, this, [this] { OnPoll(); });
    m_poll.setInterval(kPollMs);

    auto* row = new QHBoxLayout;
    row->addWidget(m_pListen);
    row->addWidget(m_pBar, 1);
    row->addWidget(m_pTime);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addSpacing(8);
    layout->addLayout(row);
    layout->addWidget(answers);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(m_pListen, m_pYes);
    setTabOrder(m_pYes, m_pNo);
    // Enter answers 예 until the learner moves on, as in the plain question.
    m_pYes->setDefault(true);
    m_pYes->setFocus();

    ISoundOutput& out = output ? *output : DefaultSoundOutput();
    if (!m_player.Open(recordingPath))
        m_strUnplayable = WhyUnplayable(recordingPath, out);
    // Wide enough for the longest time the take can show, so nothing moves while it plays.
    QString widest = FormatTime(m_player.m_dwLength).replace(QRegularExpression(QStringLiteral("[0-9]")),
                                                             QStringLiteral("0"));
    m_pTime->setMinimumWidth(m_pTime->fontMetrics().horizontalAdvance(widest + QStringLiteral(" / ") + widest) + 4);
    ShowStopped();
    if (!m_strUnplayable.isEmpty()) {
        m_pListen->setEnabled(false);
        m_pListen->setToolTip(m_strUnplayable);
        m_pListen->setAccessibleDescription(m_strUnplayable);
        m_pBar->hide();
        m_pTime->setText(m_strUnplayable);
    }
}

CReviewDlg::~CReviewDlg() = default;

QString CReviewDlg::WhyUnplayable(const std::string& path, ISoundOutput& output) {
    if (!output.HasOutput()) {
        Diagnose("the recording cannot be heard before it is sent", "no sound output device opens");
        return QStringLiteral("소리를 낼 장치가 없어 들어볼 수 없습니다.");
    }
    struct stat st {};
    const uint64_t bytes = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    // The recorder writes a constant bit rate: its size tells its length.
    const uint64_t seconds = bytes * 8 / (CMP3Recorder::kBitrate * 1000);
    if (seconds >= kLongTakeSeconds) {
        Diagnose("the recording " + path + " cannot be heard before it is sent",
                 "about " + std::to_string(seconds / 60) + " minutes is more than the sound output decodes");
        return QStringLiteral("녹음이 너무 길어 들어볼 수 없습니다.");
    }
    Diagnose("the recording " + path + " cannot be heard before it is sent",
             "it does not decode (" + std::to_string(bytes) + " bytes)");
    return QStringLiteral("녹음 파일이 손상되어 들어볼 수 없습니다.");
}

void CReviewDlg::OnListen() {
    if (m_player.m_bPlaying) {
        m_player.Stop();
        ShowStopped();
        return;
    }
    // Always the whole take, from its start.
    m_player.SeekToStart();
    m_player.Play(0);
    m_pListen->setText(QStringLiteral("멈춤(&P)"));
    m_pListen->setAccessibleName(QStringLiteral("멈춤"));
    m_poll.start();
    OnPoll();
}

void CReviewDlg::OnPoll() {
    if (!m_player.m_bPlaying)
        return;
    const DWORD position = m_player.GetPosition();
    if (position >= m_player.m_dwLength) {
        m_player.Stop();
        ShowStopped();
        return;
    }
    ShowPosition(position);
}

void CReviewDlg::ShowStopped() {
    m_poll.stop();
    m_pListen->setText(QStringLiteral("들어보기(&P)"));
    m_pListen->setAccessibleName(QStringLiteral("들어보기"));
    // The next play starts from the start, and the box says so.
    ShowPosition(0);
}

void CReviewDlg::ShowPosition(DWORD ms) {
    m_pBar->setRange(0, static_cast<int>(std::max<DWORD>(m_player.m_dwLength, 1)));
    m_pBar->setValue(static_cast<int>(std::min<DWORD>(ms, m_player.m_dwLength)));
    m_pTime->setText(FormatTime(ms) + QStringLiteral(" / ") + FormatTime(m_player.m_dwLength));
}

QString CReviewDlg::TimeText() const { return m_pTime->text(); }

int CReviewDlg::ProgressValue() const { return m_pBar->value(); }

void CReviewDlg::done(int result) {
    m_poll.stop();
    m_player.Close();
    QDialog::done(result);
}

int CQtReviewBox::Ask(const std::string& question, const std::string& recordingPath) {
    CReviewDlg box(question, recordingPath, m_output, m_parent ? m_parent->window() : nullptr);
    // Like every box of the player: a title and a close button, centred on its window.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    PlaceOverOwner(&box, m_parent);
    return box.exec() == QDialog::Accepted ? IDYES : IDNO;
}
