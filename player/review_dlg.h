// The question at the end of a test run, with the take to be heard first: 들어보기
// plays the recording from its start through the page-sound output, 멈춤 stops
// it, and 예 or 아니요 stop it before they answer.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <string>

#include "mci_player.h"
#include "review_box.h"

class ISoundOutput;
class QLabel;
class QProgressBar;
class QPushButton;

class CReviewDlg : public QDialog {
    Q_OBJECT
public:
    // output: where the take plays; null means DefaultSoundOutput(). The take is
    // decoded here, so that the box opens knowing whether it can be heard.
    CReviewDlg(const std::string& question, const std::string& recordingPath, ISoundOutput* output,
               QWidget* parent);
    ~CReviewDlg() override;

    // Why the take cannot be heard, as the learner is told; empty when it can.
    const QString& Unplayable() const { return m_strUnplayable; }
    BOOL IsPlaying() const { return m_player.m_bPlaying; }
    // Brings the time and the bar up to date; the end of the take stops it.
    void OnPoll();

    QPushButton* ListenButton() const { return m_pListen; }
    QPushButton* YesButton() const { return m_pYes; }
    QPushButton* NoButton() const { return m_pNo; }
    QString TimeText() const;
    int ProgressValue() const;

public slots:
    void done(int result) override;  // the take stops and is let go before the answer counts

private:
    void OnListen();
    void ShowStopped();
    void ShowPosition(DWORD ms);
    QString WhyUnplayable(const std::string& path, ISoundOutput& output);

    CKtMCIPlayer m_player;
    QString m_strUnplayable;
    QTimer m_poll;
    QPushButton* m_pListen = nullptr;
    QPushButton* m_pYes = nullptr;
    QPushButton* m_pNo = nullptr;
    QProgressBar* m_pBar = nullptr;
    QLabel* m_pTime = nullptr;
};

// The real review box: a CReviewDlg over the player's window, modal as the
// message boxes are.
class CQtReviewBox : public IReviewBox {
public:
    CQtReviewBox(QWidget* parent, ISoundOutput* output) : m_parent(parent), m_output(output) {}
    int Ask(const std::string& question, const std::string& recordingPath) override;

private:
    QPointer<QWidget> m_parent;
    ISoundOutput* m_output;
};
