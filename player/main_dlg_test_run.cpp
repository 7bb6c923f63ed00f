// The recorded test run: recording, the question, the upload and its verdict.
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "image_btn.h"
#include "main_dlg.h"
#include "paths.h"
#include "qt_services.h"
#include "review_box.h"
#include "settings.h"

#ifndef VORUR_UPLOAD_HOST
#define VORUR_UPLOAD_HOST "127.0.0.1:8080"
#endif

namespace {
constexpr const char* kUploadScript = "/RozevaDevur_O2_Veve/sprec_upload2.asp";

// While a recording goes out, the learner's clicks and keys are dropped, not
// queued for later, except on the window's close and minimise buttons. Events for
// a window pass: they reach the widgets through this filter once more.
class CInputBlocker : public QObject {
public:
    explicit CInputBlocker(std::vector<const QObject*> allowed) : m_allowed(std::move(allowed)) {
        qApp->installEventFilter(this);
    }
    ~CInputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return !target->isWindowType() &&
                   std::find(m_allowed.begin(), m_allowed.end(), target) == m_allowed.end();
        default:
            return false;
        }
    }

private:
    std::vector<const QObject*> m_allowed;
};
}  // namespace

std::string CMainDlg::UploadUrl() {
    std::string host;
    if (!ReadSettingString("UploadHost", host))
        host = VORUR_UPLOAD_HOST;
    return "http://" + host + kUploadScript;
}

std::string CMainDlg::OutboxFolder() {
    std::string folder;
    GetModuleFolder(folder);
    return JoinPath(folder, "Outbox");
}

int CMainDlg::Upload(const std::string& path, std::string& reply) {
    const std::string url = UploadUrl();
    m_uploadStop = false;
    m_nResultAfterUpload = -1;
    m_bUploading = true;
    std::atomic<bool> finished{false};
    int sent = 0;
    // A server may take minutes to answer; the window meanwhile stays painted,
    // answers the desktop and can be closed.
    std::thread worker([&] {
        sent = m_services.upload(url, m_args.uploadFileName, path, reply, m_uploadStop);
        finished = true;
    });
    {
        CInputBlocker blocker({Button(IDC_CLOSE), Button(IDC_MINIMIZE)});
        QApplication::setOverrideCursor(Qt::BusyCursor);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (finished)
                loop.quit();
        });
        poll.start(20);
        while (!finished) {
            // An application that is quitting ends every loop at once: keep
            // serving the window by hand until the upload has returned.
            if (loop.exec() != 0 && !finished) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        QApplication::restoreOverrideCursor();
    }
    worker.join();
    m_bUploading = false;
    return sent;
}

COutbox& CMainDlg::Outbox() {
    if (!m_services.outbox) {
        m_ownOutbox = std::make_unique<COutbox>(OutboxFolder());
        m_services.outbox = m_ownOutbox.get();
    }
    return *m_services.outbox;
}

bool CMainDlg::UnsentRecordingStays() {
    if (m_keptTake != KeptTake::NotDelivered && m_keptTake != KeptTake::Refused)
        return false;
    COutbox& outbox = Outbox();
    if (!outbox.Put(m_args.uploadFileName, m_args.recordingPath))
        return true;
    if (m_keptTake == KeptTake::Refused)
        outbox.MarkRefused(m_args.uploadFileName);
    m_keptTake = KeptTake::Unknown;
    return false;
}

void CMainDlg::StartTest() {
    if (m_nCurPage != 0)
        GoToPage(0);
    Repaint();
    if (StartRecording()) {
        m_player.SeekToStart();
        PlayPageSound();
        m_bTestRunning = 1;
        if (!IsPlaying())
            m_dwWaitStart = Now();  // a silent first page: its pause begins with the recording
    }
}

BOOL CMainDlg::StartRecording() {
    if (m_recorder.IsCapturing())
        return 1;
    const std::string& path = m_args.recordingPath;
    if (UnsentRecordingStays())
        Diagnose("a new take replaces the recording " + path + ", which was not delivered",
                 "the outbox " + OutboxFolder() + " could not take it");
    m_keptTake = KeptTake::Unknown;
    const int unlinkError = unlink(path.c_str()) == 0 ? 0 : errno;
    if (FileExists(path)) {
        Diagnose("cannot delete the old recording " + path, std::strerror(unlinkError));
        ShowMessage("녹음할 파일이 사용중입니다.\n모든 프로그램을 닫고 다시 시도하세요.");
        return 0;
    }
    DWORD speakerRec = 1;
    ReadSpeakerRecSetting(speakerRec);
    m_bSpeakerRec = speakerRec != 0;
    if (m_bSpeakerRec && !m_mixer.SelectRecordMixer(1)) {
        Diagnose("cannot switch the recording source to the playback mix", m_mixer.m_strError);
        ShowMessage(m_mixer.m_strError);
        return 0;
    }
    if (!m_recorder.Open(m_levelTarget.get(), path)) {
        Diagnose("cannot open the recording (file, capture thread or encoder)", path);
        ShowMessage("녹음파일을 열지 못했습니다.");
        return 0;
    }
    if (!m_recorder.Start()) {
        Diagnose("cannot start capturing from the recording device", path);
        ShowMessage("녹음을 시작하지 못했습니다.");
        m_recorder.Close();
        return 0;
    }
    return 1;
}

void CMainDlg::StopRecording() {
    if (!m_recorder.IsCapturing())
        return;
    m_recorder.Close();
    if (m_bSpeakerRec)
        m_mixer.SelectRecordMixer(0);
}

int CMainDlg::AskToSend() {
    const std::string question = "학습한 내용을 서버로 전송하시겠습니까?";
    // Schools that want the plain question turn the take's review off.
    DWORD review = 1;
    ReadSettingDword("ReviewBeforeSend", review);
    if (review == 0)
        return ShowMessage(question, MB_YESNO);
    return m_services.reviewBox->Ask(question, m_args.recordingPath);
}

void CMainDlg::EndTest(BOOL abort) {
    // A run still going when it is aborted: its take is given up.
    const bool running = m_bTestRunning || m_recorder.IsCapturing();
    StopSound();
    StopRecording();
    m_bTestRunning = 0;
    // Levels posted while the capture thread was ending belong to the run that is over.
    QCoreApplication::removePostedEvents(this, CWindowMessageEvent::TypeFor(WM_RECORD_LEVEL));
    m_nLevel = 0;
    DrawLevel(nullptr);
    // The countdown of the last pause must not stay on screen behind the question.
    Repaint();

    const std::string& path = m_args.recordingPath;
    if (abort) {
        // The take of a run that is given up goes; so does a finished one the
        // server accepted. One the server never got goes only once the outbox
        // holds it, and one this process did not make stays.
        if (running || m_keptTake == KeptTake::Accepted) {
            unlink(path.c_str());
            m_keptTake = KeptTake::Unknown;
        } else if (m_keptTake != KeptTake::Unknown) {
            if (UnsentRecordingStays())
                Diagnose("the recording " + path + " was not delivered and the outbox " + OutboxFolder() +
                             " cannot take it",
                         "it stays where it is");
            else
                unlink(path.c_str());
        }
        return;
    }
    // A recording whose writing failed (disk full) is incomplete: it is not offered
    // for sending as if it were whole.
    if (m_recorder.WriteFailed()) {
        Diagnose("writing the recording " + path + " failed", std::strerror(m_recorder.WriteError()));
        unlink(path.c_str());
        ShowMessage("녹음파일을 전송하지 못했습니다.\n잠시후 다시 시도하세요");
        return;
    }
    // So is one whose sound server went away mid-run and did not come back in time.
    if (m_recorder.CaptureFailed()) {
        Diagnose("capturing the recording " + path + " failed",
                 "the sound server went away during the run and did not come back in time");
        unlink(path.c_str());
        ShowMessage("녹음파일을 전송하지 못했습니다.\n잠시후 다시 시도하세요");
        return;
    }
    if (AskToSend() != IDYES) {
        unlink(path.c_str());
        return;
    }
    // The recording goes into the outbox before it is sent, so that neither a
    // failed send nor the end of the process mid-send loses it; an older copy
    // under the same name, waiting or on its way, is superseded. Only what the
    // outbox holds is removed here: without a copy there the file stays.
    COutbox& outbox = Outbox();
    outbox.StopSending();
    const bool queued = outbox.Put(m_args.uploadFileName, path);
    // Kept where it is until the outbox takes it: an abort, a new take or the
    // window's end offers it again.
    auto keepUnsent = [&](KeptTake take) {
        m_keptTake = take;
        Diagnose("the recording could not be copied into the outbox " + OutboxFolder(), "it stays at " + path);
    };
    // Another process sending the outbox may be sending an older take of this
    // name: sent beside it, this one could end up under the older on the server.
    if (!queued && !outbox.SafeToSendDirectly(m_args.uploadFileName)) {
        m_keptTake = KeptTake::NotDelivered;
        Diagnose("the outbox " + OutboxFolder() + " is in use by another process and holds an older " +
                     m_args.uploadFileName,
                 "not sent now; the recording stays at " + path);
        ShowMessage("녹음파일을 전송하지 못했습니다.\n잠시후 다시 시도하세요");
        return;
    }
    std::string reply;
    const int sent = Upload(path, reply);
    // Closed during the upload: the verdict is kept as below, but the player
    // ends without a message.
    const int endAfter = m_nResultAfterUpload;
    auto tell = [&](const char* text) {
        if (endAfter < 0)
            ShowMessage(text);
        else
            done(endAfter);
    };
    if (!sent) {
        if (queued)
            unlink(path.c_str());
        else
            keepUnsent(KeptTake::NotDelivered);
        tell("녹음파일을 전송하지 못했습니다.\n잠시후 다시 시도하세요");
        return;
    }
    if (reply.find("OK") != std::string::npos) {
        m_keptTake = KeptTake::Accepted;
        outbox.Drop(m_args.uploadFileName);
        tell("전송이 완료 되었습니다.");
        return;
    }
    Diagnose("the server at " + UploadUrl() + " did not accept " + m_args.uploadFileName,
             "reply \"" + reply.substr(0, 200) + "\"");
    // The server has spoken: kept for support staff, not sent again by itself.
    if (queued) {
        outbox.MarkRefused(m_args.uploadFileName);
        unlink(path.c_str());
    } else {
        keepUnsent(KeptTake::Refused);
    }
    tell("녹음파일을 전송했으나 실패 응답을 받았습니다.\n잠시후 다시 시도하세요");
}
