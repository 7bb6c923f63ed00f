// The borderless skinned window: set-up, controls, moving, sizing and keys.
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimerEvent>
#include <QWindow>

#include "control_id.h"
#include "diagnostics.h"
#include "hit_test.h"
#include "image_btn.h"
#include "main_dlg.h"
#include "http_file_up.h"
#include "qt_services.h"
#include "resources.h"
#include "review_dlg.h"
#include "rud_slider.h"
#include "termination.h"
#include "tick_clock.h"

namespace {

constexpr int kSkinBitmaps[] = {137, 141, 144, 139, 142, 138, 140, 143, 153, 155, 163};
constexpr int kIconResource = 128;

struct ButtonPlace {
    int id;
    int strip;
    int x, y;
};
// In the order the strips are loaded.
constexpr ButtonPlace kButtons[] = {
    {IDC_STOP, 130, 13, 567},         {IDC_PREV, 136, 39, 567},        {IDC_PLAY, 135, 63, 565},
    {IDC_NEXT, 134, 94, 567},         {IDC_AUTONEXT, 148, 119, 567},   {IDC_SHOW_QUESTION, 151, 153, 566},
    {IDC_SHOW_ANSWER, 152, 153, 581}, {IDC_PRAC, 156, 183, 565},       {IDC_TEST, 147, 225, 565},
    {IDC_CLOSE, 131, 761, 566},       {IDC_MINIMIZE, 133, 720, 569},   {IDC_MAXIMIZE, 132, 740, 569},
};

// What screen readers say and tooltips show: the pictures carry no words a
// learner can read aloud.
struct ControlName {
    int id;
    const char* name;
};
constexpr ControlName kControlNames[] = {
    {IDC_STOP, "정지"},           {IDC_PREV, "이전 쪽"},          {IDC_PLAY, "재생"},
    {IDC_NEXT, "다음 쪽"},        {IDC_AUTONEXT, "자동 넘김"},    {IDC_SHOW_QUESTION, "질문 보기"},
    {IDC_SHOW_ANSWER, "답 보기"}, {IDC_PRAC, "연습"},             {IDC_TEST, "시험"},
    {IDC_SLIDER_SOURCE, "스피커 음량"}, {IDC_SLIDER_MIC, "마이크 음량"}, {IDC_MINIMIZE, "최소화"},
    {IDC_MAXIMIZE, "최대화"},     {IDC_CLOSE, "닫기"},
};

// Buttons whose pressed face shows a setting that stays on.
constexpr int kToggles[] = {IDC_AUTONEXT, IDC_SHOW_QUESTION, IDC_SHOW_ANSWER, IDC_PRAC, IDC_TEST};

// Volume steps: a noticeable change per arrow press, a fifth per page key.
constexpr int kSliderStep = 5;
constexpr int kSliderPage = 20;

Qt::Edges EdgesFor(int hit) {
    switch (hit) {
    case HTLEFT: return Qt::LeftEdge;
    case HTRIGHT: return Qt::RightEdge;
    case HTTOP: return Qt::TopEdge;
    case HTBOTTOM: return Qt::BottomEdge;
    case HTTOPLEFT: return Qt::TopEdge | Qt::LeftEdge;
    case HTTOPRIGHT: return Qt::TopEdge | Qt::RightEdge;
    case HTBOTTOMLEFT: return Qt::BottomEdge | Qt::LeftEdge;
    case HTBOTTOMRIGHT: return Qt::BottomEdge | Qt::RightEdge;
    default: return {};
    }
}

Qt::CursorShape CursorFor(int hit) {
    switch (hit) {
    case HTLEFT:
    case HTRIGHT: return Qt::SizeHorCursor;
    case HTTOP:
    case HTBOTTOM: return Qt::SizeVerCursor;
    case HTTOPLEFT:
    case HTBOTTOMRIGHT: return Qt::SizeFDiagCursor;
    case HTTOPRIGHT:
    case HTBOTTOMLEFT: return Qt::SizeBDiagCursor;
    default: return Qt::ArrowCursor;
    }
}

}  // namespace

CMainDlg::CMainDlg(const LaunchArgs& args, const MainDlgServices& services, QWidget* parent)
    : QDialog(parent), m_player(services.soundOutput), m_args(args), m_services(services) {
    if (!m_services.clock)
        m_services.clock = &SystemTickClock();
    // Boxes and the file dialog belong to this window: over it, and with it.
    if (!m_services.messageBox) {
        m_ownMessageBox = std::make_unique<CQtMessageBox>(this);
        m_services.messageBox = m_ownMessageBox.get();
    }
    if (!m_services.reviewBox) {
        m_ownReviewBox = std::make_unique<CQtReviewBox>(this, m_services.soundOutput);
        m_services.reviewBox = m_ownReviewBox.get();
    }
    if (!m_services.fileChooser) {
        m_ownFileChooser = std::make_unique<CQtFileChooser>(this);
        m_services.fileChooser = m_ownFileChooser.get();
    }
    if (!m_services.upload)
        m_services.upload = [](const std::string& url, const std::string& name, const std::string& path,
                               std::string& reply, const std::atomic<bool>& stop) {
            std::string error;
            const int sent = UploadFile(url, name, path, reply, &error, &stop);
            if (!sent)
                Diagnose("cannot upload " + path + " to " + url, error);
            return sent;
        };
    m_levelTarget = std::make_unique<CQtMessageTarget>(this);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    CreateControls();
}

CMainDlg::~CMainDlg() {
    PostNcDestroy();
    m_levelTarget->Detach();
}

int CMainDlg::DoModal() {
    int result = IDCANCEL;
    // An end requested while set-up showed a message must not open the window.
    if (OnInitDialog() && !TerminationRequested()) {
        show();
        result = exec();
    }
    hide();
    PostNcDestroy();
    return result == IDOK ? IDOK : IDCANCEL;
}

void CMainDlg::CreateControls() {
    for (const ButtonPlace& place : kButtons) {
        auto* button = new CImageBtn(this);
        SetControlId(button, place.id);
        int id = place.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
        m_buttons[id] = button;
    }
    for (int id : {IDC_SLIDER_SOURCE, IDC_SLIDER_MIC}) {
        auto* slider = new CRudSliderCtrl(this);
        SetControlId(slider, id);
        // Click and Tab give it the keyboard; arrows and page keys move it.
        slider->setFocusPolicy(Qt::StrongFocus);
        // The mixer changes once a move has ended, never while dragging.
        connect(slider, &CRudSliderCtrl::endTrack, this, [this, id] { ApplySliderVolume(id); });
        m_sliders[id] = slider;
    }
    for (const ControlName& entry : kControlNames) {
        QWidget* control = Button(entry.id) ? static_cast<QWidget*>(Button(entry.id)) : Slider(entry.id);
        control->setAccessibleName(QString::fromUtf8(entry.name));
        control->setToolTip(QString::fromUtf8(entry.name));
    }
    for (int id : kToggles)
        Button(id)->setCheckable(true);
    // Tab follows the bottom bar from left to right, the upper of two stacked controls first.
    QWidget* previous = nullptr;
    for (int id : {IDC_STOP, IDC_PREV, IDC_PLAY, IDC_NEXT, IDC_AUTONEXT, IDC_SHOW_QUESTION, IDC_SHOW_ANSWER, IDC_PRAC,
                   IDC_TEST, IDC_SLIDER_SOURCE, IDC_SLIDER_MIC, IDC_MINIMIZE, IDC_MAXIMIZE, IDC_CLOSE}) {
        QWidget* control = Button(id) ? static_cast<QWidget*>(Button(id)) : Slider(id);
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }
}

CImageBtn* CMainDlg::Button(int id) const {
    auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

CRudSliderCtrl* CMainDlg::Slider(int id) const {
    auto it = m_sliders.find(id);
    return it == m_sliders.end() ? nullptr : it->second;
}

void CMainDlg::LoadSkin() {
    for (int id : kSkinBitmaps)
        m_skin[id].Attach(LoadBitmapResource(id, devicePixelRatioF()));
    m_nMarginLeft = m_skin[139].GetSize().width();
    m_nMarginTop = m_skin[137].GetSize().height();
    m_nMarginRight = m_skin[142].GetSize().width();
    m_nMarginBottom = m_skin[138].GetSize().height();
}

BOOL CMainDlg::OnInitDialog() {
    m_accelOpen = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    m_accelOpen->setContext(Qt::WindowShortcut);
    connect(m_accelOpen, &QShortcut::activated, this, [this] { OnFileOpen(); });
    setWindowTitle(QStringLiteral("Vorur_Ozudiz"));

    if (!m_mixer.CheckDevice()) {
        Diagnose("no sound card to record from", m_mixer.m_strError);
        ShowMessage(m_mixer.m_strError);
        done(IDCANCEL);
        return 0;
    }
    m_mixer.UnmuteMic();
    setWindowIcon(LoadIconResource(kIconResource));
    LoadSkin();

    move(StartGeometry().topLeft());
    resize(800, 600);

    for (const ButtonPlace& place : kButtons) {
        CImageBtn* button = Button(place.id);
        button->LoadStrip(place.strip, 1);
        button->SizeToFrame();
    }
    for (const ButtonPlace& place : kButtons)
        Button(place.id)->move(place.x, place.y);
    Slider(IDC_SLIDER_SOURCE)->setGeometry(672, 568, 44, 13);
    Slider(IDC_SLIDER_MIC)->setGeometry(672, 580, 44, 13);

    for (auto [id, volume] : {std::pair{IDC_SLIDER_SOURCE, m_mixer.GetSourceVolume()},
                              std::pair{IDC_SLIDER_MIC, m_mixer.GetMicVolume()}}) {
        CRudSliderCtrl* slider = Slider(id);
        slider->setRange(0, 100);
        slider->setSingleStep(kSliderStep);
        slider->setPageStep(kSliderPage);
        slider->setValue(volume);
    }

    if (!InitLayout())
        return 0;

    Button(IDC_PRAC)->SetCheck(!m_bTestMode);
    Button(IDC_TEST)->SetCheck(m_bTestMode);

    m_bInitialized = 1;
    CalcViewRect();
    setMinimumSize(600, 450);

    if (!m_args.packagePath.empty()) {
        OpenLesson(m_args.packagePath);
        unlink(m_args.packagePath.c_str());
    }

    // Button states follow the flags whenever the event loop runs dry.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        m_idleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                   [this] { UpdateDialogControls(); });
    UpdateDialogControls();
    // The strips leave the focus on the last one loaded; a learner's first Space
    // plays the page instead.
    FocusFirstControl();
    return 1;
}

void CMainDlg::AnnounceStartResources(qreal devicePixelRatio) {
    std::vector<int> bitmaps(std::begin(kSkinBitmaps), std::end(kSkinBitmaps));
    for (const ButtonPlace& place : kButtons)
        bitmaps.push_back(place.strip);
    AnnounceAheadResources(bitmaps, devicePixelRatio, kIconResource);
}

QRect CMainDlg::StartGeometry() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return QRect(screen ? screen->availableGeometry().topLeft() : QPoint(0, 0), QSize(800, 600));
}

void CMainDlg::FocusFirstControl() {
    CImageBtn* first = Button(m_bTestMode ? IDC_TEST : IDC_PLAY);
    if (first->isEnabled())
        first->setFocus(Qt::OtherFocusReason);
    else if (QWidget* focused = focusWidget())
        focused->clearFocus();  // keys go to the window: Space plays once a lesson is open
}

void CMainDlg::KeepFocusOnTheRun(int focusedId) {
    // Play and Stop take turns: the one that can act next takes the focus from the
    // one that can no longer, so Space never lands on a control the run did not ask for.
    CImageBtn* was = Button(focusedId);
    if (!was || was->isEnabled())
        return;
    const int partner = focusedId == IDC_PLAY ? IDC_STOP : focusedId == IDC_STOP ? IDC_PLAY : 0;
    CImageBtn* next = Button(partner);
    if (next && next->isEnabled())
        next->setFocus(Qt::OtherFocusReason);
}

BOOL CMainDlg::InitLayout() {
    m_layout.Initialize(this);
    for (int id : {IDC_PLAY, IDC_STOP, IDC_PREV, IDC_NEXT, IDC_AUTONEXT, IDC_SHOW_QUESTION, IDC_SHOW_ANSWER,
                   IDC_PRAC, IDC_TEST})
        m_layout.AddAnchor(id, 0, 100, 0, 100);
    for (int id : {IDC_MINIMIZE, IDC_MAXIMIZE, IDC_CLOSE, IDC_SLIDER_SOURCE, IDC_SLIDER_MIC})
        m_layout.AddAnchor(id, 100, 100, 100, 100);
    return 1;
}

void CMainDlg::CalcViewRect() {
    m_rcView = RectL{m_nMarginLeft, m_nMarginTop, width() - m_nMarginRight, height() - m_nMarginBottom};
    m_nCaptionHeight = m_nMarginTop;
}

void CMainDlg::ApplySliderVolume(int id) {
    CRudSliderCtrl* slider = Slider(id);
    if (!slider || !m_bInitialized)
        return;
    if (id == IDC_SLIDER_SOURCE)
        m_mixer.SetSourceVolume(slider->value());
    else
        m_mixer.SetMicVolume(slider->value());
}

void CMainDlg::InvalidateControls() {
    for (auto& [id, button] : m_buttons)
        button->update();
    for (auto& [id, slider] : m_sliders)
        slider->update();
}

uint32_t CMainDlg::Now() { return m_services.clock->GetTickCount(); }

int CMainDlg::ShowMessage(const std::string& text, UINT type) { return m_services.messageBox->Show(text, type); }

void CMainDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimerId)
        OnTimer(1);
    QDialog::timerEvent(event);
}

void CMainDlg::customEvent(QEvent* event) {
    if (event->type() == CWindowMessageEvent::TypeFor(WM_RECORD_LEVEL)) {
        OnRecordLevel(static_cast<CWindowMessageEvent*>(event)->wParam());
        return;
    }
    QDialog::customEvent(event);
}

void CMainDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    m_layout.OnParentSized();
    if (m_bInitialized) {
        CalcViewRect();
        InvalidateControls();
    }
    Repaint();
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    // Keys that reach the window itself: no button took them. Escape and Enter
    // never close the player.
    auto command = [this](int id) {
        if (IsCommandEnabled(id))
            OnCommand(id);
    };
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
        if (plain && !event->isAutoRepeat())
            command(IDC_STOP);
        break;
    case Qt::Key_Space:
        // Plays, and stops a page that plays; a test run is ended by Stop or
        // Escape only, never by a second Space.
        if (plain && !event->isAutoRepeat()) {
            if (IsCommandEnabled(IDC_PLAY))
                OnCommand(IDC_PLAY);
            else if (!m_bTestMode)
                command(IDC_STOP);
        }
        break;
    case Qt::Key_Left:
        if (plain)
            command(IDC_PREV);
        break;
    case Qt::Key_Right:
        if (plain)
            command(IDC_NEXT);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        break;
    default:
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CMainDlg::accept() {}

void CMainDlg::reject() { done(IDCANCEL); }

void CMainDlg::done(int result) {
    // Closing while a recording goes out must not wait for the server: the upload
    // is given up (the outbox keeps the recording for the next start) and the
    // dialog ends once it has returned.
    if (m_bUploading) {
        m_uploadStop = true;
        if (m_nResultAfterUpload < 0)
            m_nResultAfterUpload = result;
        return;
    }
    QDialog::done(result);
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    // Closing from the task bar or the window manager ends the dialog as Cancel.
    event->ignore();
    reject();
}

void CMainDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QPoint p = event->position().toPoint();
    int hit = MainWindowHitTest(p.x(), p.y(), width(), height(), m_nCaptionHeight);
    BeginWindowDrag(event->globalPosition().toPoint(), hit);
    event->accept();
}

void CMainDlg::BeginWindowDrag(const QPoint& globalPos, int hit) {
    m_nDragHit = 0;
    QWindow* window = windowHandle();
    bool started = false;
    if (window && !(windowState() & Qt::WindowMaximized)) {
        started = hit == HTCAPTION ? window->startSystemMove() : window->startSystemResize(EdgesFor(hit));
    } else if (window && hit == HTCAPTION) {
        started = window->startSystemMove();
    }
    if (started)
        return;
    // The window system offers no move or resize: follow the pointer ourselves.
    m_nDragHit = hit;
    m_dragStartGlobal = globalPos;
    m_dragStartGeometry = geometry();
}

void CMainDlg::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (m_nDragHit == 0 || !(event->buttons() & Qt::LeftButton)) {
        m_nDragHit = 0;
        int hit = MainWindowHitTest(p.x(), p.y(), width(), height(), m_nCaptionHeight);
        setCursor(CursorFor(hit));
        return;
    }
    QPoint delta = event->globalPosition().toPoint() - m_dragStartGlobal;
    QRect g = m_dragStartGeometry;
    if (m_nDragHit == HTCAPTION) {
        move(g.topLeft() + delta);
        return;
    }
    Qt::Edges edges = EdgesFor(m_nDragHit);
    QSize minimum = minimumSize();
    if (edges & Qt::LeftEdge)
        g.setLeft(std::min(g.left() + delta.x(), g.right() - minimum.width() + 1));
    if (edges & Qt::RightEdge)
        g.setRight(std::max(g.right() + delta.x(), g.left() + minimum.width() - 1));
    if (edges & Qt::TopEdge)
        g.setTop(std::min(g.top() + delta.y(), g.bottom() - minimum.height() + 1));
    if (edges & Qt::BottomEdge)
        g.setBottom(std::max(g.bottom() + delta.y(), g.top() + minimum.height() - 1));
    setGeometry(g);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* event) {
    m_nDragHit = 0;
    event->accept();
}

void CMainDlg::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void CMainDlg::SetMaximized(bool maximize) {
    m_bOwnStateChange = true;
    if (maximize)
        showMaximized();
    else
        showNormal();
    m_bOwnStateChange = false;
}

void CMainDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_bOwnStateChange)
        return;
    // Restoring a maximised window is the maximise button's job alone; a minimised
    // window may be restored from anywhere.
    Qt::WindowStates state = windowState();
    if (m_bMaximized && !(state & (Qt::WindowMaximized | Qt::WindowMinimized))) {
        QMetaObject::invokeMethod(this, [this] {
            if (m_bMaximized && !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)))
                SetMaximized(true);
        }, Qt::QueuedConnection);
    }
}
