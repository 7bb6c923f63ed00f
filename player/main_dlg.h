// The player: the main dialog with its lesson, page sound, recorder, mixer and the
// skinned controls. Split by concern over main_dlg_*.cpp.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "auto_font.h"
#include "cfg_file.h"
#include "draw_geometry.h"
#include "kt_bitmap.h"
#include "launch_args.h"
#include "layout_mgr.h"
#include "mci_player.h"
#include "mp3_recorder.h"
#include "outbox.h"
#include "picture.h"
#include "rud_mixer.h"
#include "wintypes.h"

class CImageBtn;
class CRudSliderCtrl;
class CQtMessageTarget;
class IFileChooser;
class IMessageBox;
class IReviewBox;
class ISoundOutput;
class ITickClock;
class QPainter;
class QShortcut;

// Control ids of the dialog.
enum : int {
    IDC_MAXIMIZE = 1000,
    IDC_MINIMIZE = 1001,
    IDC_CLOSE = 1002,
    IDC_PLAY = 1003,
    IDC_TEST = 1006,
    IDC_SLIDER_SOURCE = 1007,
    IDC_PREV = 1008,
    IDC_STOP = 1009,
    IDC_NEXT = 1010,
    IDC_PRAC = 1012,
    IDC_AUTONEXT = 1013,
    IDC_SLIDER_MIC = 1015,
    IDC_SHOW_QUESTION = 1017,
    IDC_SHOW_ANSWER = 1018,
};

// Uploads a recording; returns 1 when the request went out. Same contract as
// UploadFile, `stop` included. Runs on a thread of its own.
using UploadFunction =
    std::function<int(const std::string& url, const std::string& uploadFileName, const std::string& localPath,
                      std::string& reply, const std::atomic<bool>& stop)>;

// What the dialog gets from outside; tests substitute scripted versions. Null
// members mean the real thing.
struct MainDlgServices {
    ITickClock* clock = nullptr;
    IMessageBox* messageBox = nullptr;
    IReviewBox* reviewBox = nullptr;  // the question at the end of a test run
    IFileChooser* fileChooser = nullptr;
    ISoundOutput* soundOutput = nullptr;
    UploadFunction upload;
    COutbox* outbox = nullptr;  // null: one on OutboxFolder(), without a sender of its own
};

class CMainDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMainDlg(const LaunchArgs& args, const MainDlgServices& services = MainDlgServices(),
                      QWidget* parent = nullptr);
    ~CMainDlg() override;

    // OnInitDialog, the modal loop, then the clean-up of a destroyed window.
    int DoModal();

    // --- set-up and window (main_dlg_window.cpp)
    BOOL OnInitDialog();
    void CalcViewRect();
    BOOL InitLayout();
    void PostNcDestroy();
    void OnCommand(int id);
    void OnFileOpen();

    // --- state and navigation (main_dlg_state.cpp)
    void UpdateDialogControls();
    BOOL IsCommandEnabled(int id) const;
    void OnTimer(int id);
    void OnTick();
    void GoToPage(int index, bool soundLater = false);
    void PlayCurrent();
    // Plays the current page's sound, reading it first if the page took it unread.
    void PlayPageSound();
    void StopSound();
    BOOL IsPlaying() const { return m_player.m_bPlaying; }
    bool TickRunning() const { return m_nTimerId != 0; }
    int GetPageCount() const;

    // --- lessons (main_dlg_lesson.cpp)
    BOOL OpenLesson(const std::string& packagePath);
    void CloseLesson();

    // --- test run (main_dlg_test_run.cpp)
    void StartTest();
    BOOL StartRecording();
    void StopRecording();
    void EndTest(BOOL abort);
    static std::string UploadUrl();
    // Where recordings wait that the learner agreed to send and the server has
    // not accepted yet: "Outbox" in the module folder.
    static std::string OutboxFolder();

    // --- drawing (main_dlg_paint.cpp)
    // A paint copies the composition (skin, page view, level bar tiles), made once
    // per size, picture, page and text flags, then draws the countdown and the
    // level on top.
    void DrawSkin(QPainter& dc);
    void DrawPage(QPainter& dc);
    void DrawCountdown(QPainter& dc);
    QRect CountdownRect() const;
    // Draws the level bar into dc, or straight into the window when dc is null.
    void DrawLevel(QPainter* dc);
    // How many times the composition was made.
    int GetCompositionCount() const { return m_nCompositions; }
    void OnRecordLevel(WPARAM level);
    QRect LevelBarRect() const;
    void InvalidateControls();

    // Where the window opens: the primary screen's top-left corner, 800 x 600.
    static QRect StartGeometry();
    // Names the bitmaps and the icon the window loads when it opens, so that they
    // can be decoded on another thread while the download runs.
    static void AnnounceStartResources(qreal devicePixelRatio);

    CImageBtn* Button(int id) const;
    CRudSliderCtrl* Slider(int id) const;
    const LaunchArgs& Args() const { return m_args; }

    // Player state.
    BOOL m_bInitialized = 0;
    BOOL m_bTestMode = 0;
    BOOL m_bAutoNext = 0;
    BOOL m_bAutoPlaying = 0;
    BOOL m_bLessonLoaded = 0;
    CCfgFile m_cfg;
    int m_nCurPage = -1;
    CPicture m_picture;
    CKtMCIPlayer m_player;
    BOOL m_bShowQuestion = 0;
    BOOL m_bShowAnswer = 0;
    BOOL m_bTestRunning = 0;
    DWORD m_dwWaitStart = 0;
    CMP3Recorder m_recorder;
    CRudMixer m_mixer;
    int m_nLevel = 0;
    BOOL m_bSpeakerRec = 1;

    // Window state.
    BOOL m_bMaximized = 0;
    RectL m_rcView;
    int m_nCaptionHeight = 0;
    CLdLayoutMgr m_layout;
    CAutoFont m_fontText;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    void accept() override;  // Enter never closes the player
    void reject() override;  // ends the dialog with IDCANCEL
    void done(int result) override;  // during an upload: gives it up, then ends

private:
    void CreateControls();
    void LoadSkin();
    void ApplySliderVolume(int id);
    void Repaint() { update(); }
    void OpenDeferredSound();
    void UpdateTimer();  // the pulse, running only while something moves on by itself
    bool CountdownShows() const;
    const QImage& Composition(QPainter& target);
    void DrawLevelTiles(QPainter& dc);
    void DrawLevelFill(QPainter& dc);
    // The device-pixel size at which the current view shows a picture.
    CPicture::ShownSize ShownPictureSize() const;
    uint32_t Now();
    int ShowMessage(const std::string& text, UINT type = MB_OK);
    // Whether to send the take just recorded: IDYES or IDNO.
    int AskToSend();
    std::string TempPath(const std::string& name);
    COutbox& Outbox();
    // True while the take at the recording path must stay there: the server has
    // not accepted it and the outbox could not take it. Offers it to the outbox
    // once more first.
    bool UnsentRecordingStays();
    // The upload, with the window painted and closeable while it goes on.
    int Upload(const std::string& path, std::string& reply);
    void BeginWindowDrag(const QPoint& globalPos, int hit);
    void SetMaximized(bool maximize);
    void FocusFirstControl();
    void KeepFocusOnTheRun(int focusedId);

    LaunchArgs m_args;
    MainDlgServices m_services;
    std::unique_ptr<IMessageBox> m_ownMessageBox;
    std::unique_ptr<IReviewBox> m_ownReviewBox;
    std::unique_ptr<IFileChooser> m_ownFileChooser;
    std::unique_ptr<COutbox> m_ownOutbox;
    std::unique_ptr<CQtMessageTarget> m_levelTarget;

    std::map<int, CImageBtn*> m_buttons;
    std::map<int, CRudSliderCtrl*> m_sliders;
    std::map<int, CKtBitmap> m_skin;  // by bitmap resource id
    int m_nMarginLeft = 0, m_nMarginTop = 0, m_nMarginRight = 0, m_nMarginBottom = 0;
    QShortcut* m_accelOpen = nullptr;
    static constexpr int kTickMs = 500;
    int m_nTimerId = 0;
    bool m_bCountdownShown = false;
    bool m_bUploading = false;
    // What this process knows of the take at the recording path. Only an accepted
    // one may be deleted by an abort; one not delivered (or refused) without a copy
    // in the outbox goes there first. A file an earlier process left is unknown.
    enum class KeptTake { Unknown, Accepted, NotDelivered, Refused };
    KeptTake m_keptTake = KeptTake::Unknown;
    std::atomic<bool> m_uploadStop{false};
    int m_nResultAfterUpload = -1;  // the end asked for during the upload
    bool m_bDestroyed = false;
    bool m_bOwnStateChange = false;
    QMetaObject::Connection m_idleConnection;

    struct CompositionKey {
        QSize size;
        qreal dpr = 0;
        quint64 picture = 0;
        int page = -1, flags = 0, fontSize = 0, dpiY = 0;
        bool operator==(const CompositionKey&) const = default;
    };
    QImage m_composed;
    CompositionKey m_composedKey;
    int m_nCompositions = 0;

    // Fallback window move and resize where the window system offers none.
    int m_nDragHit = 0;
    QPoint m_dragStartGlobal;
    QRect m_dragStartGeometry;
};
