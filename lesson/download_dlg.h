// The small modal dialog that fetches the lesson package at start-up, with a fixed
// text and a progress bar.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QProgressBar>
#include <string>

#include "url_fetch.h"
#include "wintypes.h"

class QLabel;

class CDownloadDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDownloadDlg(QWidget* parent = nullptr);
    ~CDownloadDlg() override;

    // IDOK when the package arrived, IDCANCEL otherwise (also when the dialog was
    // closed before the transfer began).
    int DoModal();

    std::string m_strUrl;
    std::string m_strLocalPath;
    std::string m_strError;  // why the dialog did not end with IDOK
    QProgressBar* m_progress = nullptr;  // control 1020

    // Dialog units of template 157 turned into pixels for the dialog's font.
    static QRect DialogUnitsToPixels(const QFont& font, const QRect& units);

protected:
    bool OnInitDialog();
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void OnTimer(int id);
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class CUrlDownload;
    // Closed before the transfer began: it never begins.
    void NeverStart();
    int m_nTimer = 0;  // runs until the transfer starts
    bool m_bStartQueued = false;
    bool m_bTransferring = false;
    bool m_bCancelRequested = false;
};

// Carries out one transfer for the dialog and moves its progress bar.
class CUrlDownload : public IFetchProgress {
public:
    virtual ~CUrlDownload() = default;
    bool Download(CDownloadDlg* dialog, const std::string& url, const std::string& localPath);

    // statusCode 4: range 0..maximum, then position; 5: position; others: nothing.
    void OnProgress(uint64_t progress, uint64_t maximum, uint32_t statusCode) override;
    // Keeps the dialog painting while the transfer runs; false once the user closed it.
    bool Pump() override;

    std::string m_strError;  // the transfer's failure, empty after a success

private:
    CDownloadDlg* m_pDialog = nullptr;
    uint64_t m_nScale = 1;  // the bar counts in ints; large packages are scaled down
    QElapsedTimer m_shown;  // since the bar last moved
};
