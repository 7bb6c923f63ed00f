// The borderless main window on a real dialog: its set-up, anchors, mouse and keys
// as the window system delivers them, the volume sliders, the mixer check, and the
// pixels the paint puts on the window.
#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <functional>

#include "auto_font.h"
#include "main_dlg_fixture.h"
#include "mixer_sim.h"
#include "qt_services.h"
#include "resources.h"
#include "rud_mixer.h"
#include "rud_slider.h"

namespace {

// Runs `inspect` on the modal dialog once it is up and shown, as a learner
// would meet it; it must close the dialog.
void WhenModal(std::function<void(QWidget*)> inspect) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, inspect] {
        if (QPointer<QWidget> modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            // (On Wayland, closing a box before the compositor has configured
            // it is a race no learner can run.)
            EXPECT_TRUE(QTest::qWaitForWindowExposed(modal, 5000)) << "the box never showed";
            if (modal)
                inspect(modal);
        }
    });
    poll->start(10);
}

// Two recording sources with volumes that read back as plain percentages.
constexpr const char* kMixerDescription = R"(
[device]
name = Test Card
formats = 0x800
selector = mux
[line]
name = Microphone
type = microphone
channels = 1
volume = 0 100 30
mute = 1
selected = 1
[line]
name = Stereo Mix
type = waveout
channels = 2
volume = 0 100 70
mute = 0
)";

struct Place {
    int id, strip, x, y;
};
constexpr Place kButtonPlaces[] = {
    {IDC_STOP, 130, 13, 567},         {IDC_PREV, 136, 39, 567},       {IDC_PLAY, 135, 63, 565},
    {IDC_NEXT, 134, 94, 567},         {IDC_AUTONEXT, 148, 119, 567},  {IDC_SHOW_QUESTION, 151, 153, 566},
    {IDC_SHOW_ANSWER, 152, 153, 581}, {IDC_PRAC, 156, 183, 565},      {IDC_TEST, 147, 225, 565},
    {IDC_MINIMIZE, 133, 720, 569},    {IDC_MAXIMIZE, 132, 740, 569},  {IDC_CLOSE, 131, 761, 566},
};

const QColor kWindowBackground(207, 207, 207);
const QColor kLevelFill(254, 212, 128);

// The 40 x 30 picture of the fixture's packages fills (31, 3) to (768, 556) of the
// view when the texts are over it, and (398, 130) to (796, 428) beside it.
constexpr QRect kPictureOver(31, 3, 737, 553);
constexpr QRect kPictureBeside(398, 130, 398, 298);

// A rendered window, read in logical pixels whatever the device pixel ratio.
class Shot {
public:
    explicit Shot(QImage image) : m_image(std::move(image)) {}
    QColor At(int x, int y) const {
        const qreal dpr = m_image.devicePixelRatio();
        return m_image.pixelColor(int(x * dpr), int(y * dpr));
    }
    QSize Size() const { return m_image.deviceIndependentSize().toSize(); }
    // The logical points of `area` whose colour passes `test`.
    std::vector<QPoint> Find(const QRect& area, const std::function<bool(const QColor&)>& test) const {
        std::vector<QPoint> found;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (test(At(x, y)))
                    found.emplace_back(x, y);
        return found;
    }
    const QImage& Image() const { return m_image; }

private:
    QImage m_image;
};

// Ink of the yellow (255, 255, 0) countdown, smoothed at its edges, on the dark panel.
bool IsYellowInk(const QColor& c) { return c.red() >= 150 && c.green() >= 150 && c.blue() <= 40 && std::abs(c.red() - c.green()) < 24; }
bool IsBlack(const QColor& c) { return c.red() == 0 && c.green() == 0 && c.blue() == 0; }
// Ink of black text on the picture's dark cyan (0, 128, 128).
bool IsDarkInk(const QColor& c) { return c.green() < 64 && c.blue() < 64; }
// Ink of white text on black.
bool IsBrightInk(const QColor& c) { return c.red() > 128 && c.green() > 128 && c.blue() > 128; }

QRect Bounds(const std::vector<QPoint>& points) {
    QRect r;
    for (const QPoint& p : points)
        r = r.united(QRect(p, QSize(1, 1)));
    return r;
}

// The handle of a slider as its style lays it out.
QRect SliderHandle(const CRudSliderCtrl* slider) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.state |= QStyle::State_Horizontal;
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.singleStep = slider->singleStep();
    opt.pageStep = slider->pageStep();
    opt.tickPosition = slider->tickPosition();
    opt.upsideDown = slider->invertedAppearance();
    return slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
}

class MainWindowTest : public MainDlgTest {
protected:
    static void SetUpTestSuite() { InstallFontSubstitutions(); }

    void SetUp() override {
        MainDlgTest::SetUp();
        testsupport::WriteFile(m_tmp.file("mixer.txt"), kMixerDescription);
        UseMixer(m_tmp.file("mixer.txt"));
    }
    void TearDown() override {
        MainDlgTest::TearDown();
        m_mixerEnv.reset();
        ResetSimMixer();
        ReleaseWaveInDevices();
    }
    void UseMixer(const std::string& description) {
        m_mixerEnv.reset();
        m_mixerEnv = std::make_unique<testsupport::ScopedEnv>("VORUR_MIXER_SIM", description);
        ReleaseWaveInDevices();
        ResetSimMixer();
        ClearSimMixerLog();
    }
    // A dialog whose OnInitDialog is run by the test itself.
    std::unique_ptr<CMainDlg> Construct(const std::string& packagePath) {
        LaunchArgs args;
        args.packagePath = packagePath;
        args.recordingPath = RecordingPath();
        MainDlgServices services;
        services.clock = &m_clock;
        services.messageBox = &m_box;
        services.fileChooser = &m_chooser;
        services.soundOutput = &m_sound;
        return std::make_unique<CMainDlg>(args, services);
    }
    void Show() {
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    QWindow* Window() { return m_dlg->windowHandle(); }
    // Press, one move and release through the window, by `delta` on the screen. The
    // release is where the pointer is on the screen, wherever the window went.
    void Drag(QPoint from, QPoint delta) {
        QWindow* window = Window();
        const QPoint target = window->mapToGlobal(from) + delta;
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        QTest::mouseMove(window, from + delta);
        QTest::mouseRelease(window, Qt::LeftButton, {}, window->mapFromGlobal(target));
    }
    Shot Grab() { return Shot(m_dlg->grab().toImage()); }
    std::string OnePage(const std::string& question, const std::string& answer, bool beside) {
        PageSpec page;
        page.question = question;
        page.answer = answer;
        page.wait = 3;
        return MakePackage("page.viz", {page, page}, beside);
    }
    std::vector<std::string> VolumeLog() {
        std::vector<std::string> lines;
        for (const std::string& line : SimMixerLog())
            if (line.rfind("volume|", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    std::unique_ptr<testsupport::ScopedEnv> m_mixerEnv;
};

TEST_F(MainWindowTest, StartsAsAFramelessSkinnedWindowWithEveryControlInPlace) {
    Start("");
    EXPECT_TRUE(m_dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(m_dlg->isWindow());
    EXPECT_EQ(m_dlg->size(), QSize(800, 600));
    EXPECT_EQ(m_dlg->pos(), QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Vorur_Ozudiz"));
    EXPECT_FALSE(m_dlg->windowIcon().isNull());
    EXPECT_EQ(m_dlg->minimumSize(), QSize(600, 450));

    for (const Place& place : kButtonPlaces) {
        QImage strip = LoadBitmapResource(place.strip);
        ASSERT_FALSE(strip.isNull()) << place.strip;
        // One of the four pictures stacked in the strip.
        QSize picture(strip.width(), strip.height() / 4);
        EXPECT_EQ(m_dlg->Button(place.id)->geometry(), QRect(QPoint(place.x, place.y), picture)) << place.id;
    }
    // The sliders show the mixer's volumes: the played-back mix and the microphone.
    struct {
        int id;
        QRect geometry;
        int volume;
    } sliders[] = {{IDC_SLIDER_SOURCE, QRect(672, 568, 44, 13), 70}, {IDC_SLIDER_MIC, QRect(672, 580, 44, 13), 30}};
    for (const auto& s : sliders) {
        CRudSliderCtrl* slider = m_dlg->Slider(s.id);
        EXPECT_EQ(slider->geometry(), s.geometry) << s.id;
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 100);
        EXPECT_EQ(slider->singleStep(), 5);
        EXPECT_EQ(slider->pageStep(), 20);
        EXPECT_EQ(slider->value(), s.volume) << s.id;
        EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
    }
    // Every control has a Korean name for screen readers, also its tooltip; toggles
    // report their state.
    const struct {
        int id;
        const char* name;
        bool toggle;
    } names[] = {
        {IDC_STOP, "정지", false},          {IDC_PREV, "이전 쪽", false},        {IDC_PLAY, "재생", false},
        {IDC_NEXT, "다음 쪽", false},       {IDC_AUTONEXT, "자동 넘김", true},   {IDC_SHOW_QUESTION, "질문 보기", true},
        {IDC_SHOW_ANSWER, "답 보기", true}, {IDC_PRAC, "연습", true},            {IDC_TEST, "시험", true},
        {IDC_SLIDER_SOURCE, "스피커 음량", false}, {IDC_SLIDER_MIC, "마이크 음량", false},
        {IDC_MINIMIZE, "최소화", false},    {IDC_MAXIMIZE, "최대화", false},     {IDC_CLOSE, "닫기", false},
    };
    for (const auto& n : names) {
        QWidget* control = m_dlg->Button(n.id) ? static_cast<QWidget*>(m_dlg->Button(n.id)) : m_dlg->Slider(n.id);
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(control);
        ASSERT_TRUE(a11y) << n.id;
        EXPECT_EQ(a11y->text(QAccessible::Name).toStdString(), n.name) << n.id;
        EXPECT_EQ(control->toolTip().toStdString(), n.name) << n.id;
        EXPECT_EQ(a11y->state().checkable, n.toggle) << n.id;
    }
    QAccessibleInterface* prac = QAccessible::queryAccessibleInterface(m_dlg->Button(IDC_PRAC));
    EXPECT_TRUE(prac->state().checked);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(m_dlg->Button(IDC_TEST))->state().checked);

    // The microphone is unmuted on start; nothing is written to the volumes.
    SimLineState mic;
    ASSERT_TRUE(GetSimLineState("Test Card", "Microphone", mic));
    EXPECT_EQ(mic.mute, std::vector<DWORD>{0});
    EXPECT_TRUE(VolumeLog().empty());
}

TEST_F(MainWindowTest, ResizingMovesAnchoredControlsAndKeepsTheMinimum) {
    Start("");
    Show();  // a hidden widget defers its resize events
    std::map<int, QRect> before;
    for (const Place& place : kButtonPlaces)
        before[place.id] = m_dlg->Button(place.id)->geometry();
    before[IDC_SLIDER_SOURCE] = m_dlg->Slider(IDC_SLIDER_SOURCE)->geometry();
    before[IDC_SLIDER_MIC] = m_dlg->Slider(IDC_SLIDER_MIC)->geometry();

    m_dlg->resize(900, 650);
    auto geometry = [this](int id) {
        return id == IDC_SLIDER_SOURCE || id == IDC_SLIDER_MIC ? m_dlg->Slider(id)->geometry()
                                                               : m_dlg->Button(id)->geometry();
    };
    EXPECT_EQ(geometry(IDC_PLAY), before[IDC_PLAY].translated(0, 50));
    EXPECT_EQ(geometry(IDC_CLOSE), before[IDC_CLOSE].translated(100, 50));
    for (auto& [id, rect] : before) {
        const bool rightGroup = id == IDC_MINIMIZE || id == IDC_MAXIMIZE || id == IDC_CLOSE ||
                                id == IDC_SLIDER_SOURCE || id == IDC_SLIDER_MIC;
        EXPECT_EQ(geometry(id), rect.translated(rightGroup ? 100 : 0, 50)) << id;
    }
    EXPECT_EQ(m_dlg->m_rcView, (RectL{3, 2, 897, 607}));
    EXPECT_EQ(m_dlg->m_nCaptionHeight, 2);

    // Never smaller than 600 x 450; back at 800 x 600 everything is where it began.
    m_dlg->resize(500, 300);
    EXPECT_EQ(m_dlg->size(), QSize(600, 450));
    EXPECT_EQ(m_dlg->m_rcView, (RectL{3, 2, 597, 407}));
    m_dlg->resize(800, 600);
    for (auto& [id, rect] : before)
        EXPECT_EQ(geometry(id), rect) << id;
}

// Presses arrive through the window, as the window system delivers them: whatever
// lies under the pointer gets them.
TEST_F(MainWindowTest, PressesOnTheBackgroundMoveOrResizeAndPressesOnButtonsClick) {
    Start(OnePage("Q", "A", false));
    Show();
    QWindow* window = Window();
    ASSERT_TRUE(window);
    const QPoint origin = m_dlg->pos();

    // A button under the pointer is clicked.
    QRect qt = m_dlg->Button(IDC_SHOW_QUESTION)->geometry();
    QTest::mouseClick(window, Qt::LeftButton, {}, qt.center());
    EXPECT_TRUE(m_dlg->m_bShowQuestion);
    EXPECT_EQ(Check(IDC_SHOW_QUESTION), 1);

    // The picture is background: dragging it moves the window and clicks nothing.
    Drag(QPoint(400, 300), QPoint(30, 20));
    EXPECT_EQ(m_dlg->pos(), origin + QPoint(30, 20));
    EXPECT_EQ(m_dlg->size(), QSize(800, 600));
    EXPECT_TRUE(m_dlg->m_bShowQuestion);
    EXPECT_FALSE(m_dlg->IsPlaying());
    m_dlg->move(origin);

    // The top two rows only move; row 4 is the top resize border.
    Drag(QPoint(400, 1), QPoint(0, 10));
    EXPECT_EQ(m_dlg->geometry(), QRect(origin + QPoint(0, 10), QSize(800, 600)));
    m_dlg->move(origin);
    Drag(QPoint(400, 4), QPoint(0, 10));
    EXPECT_EQ(m_dlg->geometry(), QRect(origin + QPoint(0, 10), QSize(800, 590)));
    m_dlg->setGeometry(QRect(origin, QSize(800, 600)));

    // The bottom-right corner square resizes both ways; no edge goes below the minimum.
    Drag(QPoint(796, 596), QPoint(100, 50));
    EXPECT_EQ(m_dlg->geometry(), QRect(origin, QSize(900, 650)));
    EXPECT_EQ(m_dlg->Button(IDC_CLOSE)->pos(), QPoint(861, 616));
    Drag(QPoint(2, 300), QPoint(600, 0));
    EXPECT_EQ(m_dlg->width(), 600);
    EXPECT_EQ(m_dlg->geometry().right(), origin.x() + 899);  // the right edge stays put
}

TEST_F(MainWindowTest, KeysPressTheFocusedControlStepPagesAndStopTabFollowsTheBar) {
    Start(OnePage("", "", false));
    Show();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    auto control = [&](int id) -> QWidget* {
        return m_dlg->Button(id) ? static_cast<QWidget*>(m_dlg->Button(id)) : m_dlg->Slider(id);
    };
    // The first focus is Play, not the last strip loaded (Maximise).
    EXPECT_EQ(QApplication::focusWidget(), control(IDC_PLAY));

    // A focused control shows an amber ring; the same control without the focus
    // shows none.
    auto amber = [&](int id) {
        const QImage face = control(id)->grab().toImage();
        int n = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x) {
                const QColor c = face.pixelColor(x, y);
                n += c.red() > 200 && c.green() > 150 && c.green() < 210 && c.blue() < 110;
            }
        return n;
    };
    for (int id : {IDC_NEXT, IDC_AUTONEXT, IDC_CLOSE, IDC_SLIDER_MIC}) {
        control(id)->setFocus(Qt::TabFocusReason);
        const int focused = amber(id);
        control(IDC_PLAY)->setFocus(Qt::TabFocusReason);
        EXPECT_GT(focused, amber(id) + 20) << id;
    }

    // Keys and what they do, each from a given focus: Enter and Space press the
    // focused button; with a slider focused Space plays and stops, and Left and
    // Right move the slider; elsewhere Left and Right step pages and Escape stops.
    // Neither Escape nor Enter ever closes the player.
    struct {
        int focus;  // 0: no control
        Qt::Key key;
        std::function<bool()> outcome;
        const char* what;
    } keys[] = {
        {IDC_SHOW_QUESTION, Qt::Key_Return, [&] { return m_dlg->m_bShowQuestion == 1; }, "Enter presses QT"},
        {IDC_SHOW_QUESTION, Qt::Key_Enter, [&] { return m_dlg->m_bShowQuestion == 0; }, "keypad Enter too"},
        {IDC_SHOW_ANSWER, Qt::Key_Space, [&] { return m_dlg->m_bShowAnswer == 1; }, "Space presses AT"},
        {IDC_PLAY, Qt::Key_Right, [&] { return m_dlg->m_nCurPage == 1; }, "Right: next page"},
        {IDC_PLAY, Qt::Key_Left, [&] { return m_dlg->m_nCurPage == 0; }, "Left: previous page"},
        {0, Qt::Key_Space, [&] { return m_dlg->IsPlaying() == 1; }, "Space plays"},
        {0, Qt::Key_Escape, [&] { return m_dlg->IsPlaying() == 0; }, "Escape stops"},
        {IDC_SLIDER_SOURCE, Qt::Key_Space, [&] { return m_dlg->IsPlaying() == 1; }, "Space on a slider plays"},
        {IDC_SLIDER_SOURCE, Qt::Key_Space, [&] { return m_dlg->IsPlaying() == 0; }, "... and stops"},
        {IDC_SLIDER_SOURCE, Qt::Key_Right, [&] { return m_dlg->Slider(IDC_SLIDER_SOURCE)->value() == 75; },
         "Right on a slider: 5 %"},
        {IDC_SLIDER_SOURCE, Qt::Key_PageDown, [&] { return m_dlg->Slider(IDC_SLIDER_SOURCE)->value() == 55; },
         "Page Down on a slider: 20 %"},
        {IDC_SLIDER_SOURCE, Qt::Key_Return, [&] { return m_dlg->isVisible() && m_dlg->result() == 0; },
         "Enter on a slider closes nothing"},
        {0, Qt::Key_Return, [&] { return m_dlg->isVisible() && m_dlg->result() == 0; }, "Enter closes nothing"},
        {0, Qt::Key_Escape, [&] { return m_dlg->isVisible() && m_dlg->result() == 0; }, "Escape closes nothing"},
        {IDC_CLOSE, Qt::Key_Escape, [&] { return m_dlg->isVisible() && m_dlg->result() == 0; },
         "Escape on Close closes nothing"},
    };
    for (const auto& k : keys) {
        if (k.focus)
            control(k.focus)->setFocus(Qt::TabFocusReason);
        else if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        QTest::keyClick(k.focus ? control(k.focus) : static_cast<QWidget*>(m_dlg.get()), k.key,
                        k.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_TRUE(k.outcome()) << k.what;
    }
    // The slider's last key applied its volume as a move ends.
    EXPECT_FALSE(VolumeLog().empty());

    // Play hands the focus to Stop while a page plays, and takes it back after.
    control(IDC_PLAY)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(control(IDC_PLAY), Qt::Key_Space);
    EXPECT_TRUE(m_dlg->IsPlaying());
    EXPECT_EQ(QApplication::focusWidget(), control(IDC_STOP));
    QTest::keyClick(control(IDC_STOP), Qt::Key_Return);
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_EQ(QApplication::focusWidget(), control(IDC_PLAY));

    EXPECT_EQ(m_chooser.calls, 0);
    QTest::keyClick(m_dlg.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(m_chooser.calls, 1);
    EXPECT_EQ(m_chooser.filter, "강좌 파일 (*.viz)");
    // Also while a control has the focus.
    m_dlg->Button(IDC_CLOSE)->setFocus();
    QTest::keyClick(m_dlg->Button(IDC_CLOSE), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(m_chooser.calls, 2);
    EXPECT_TRUE(m_dlg->isVisible());

    // Tab goes along the bottom bar from left to right, the upper of two stacked
    // controls first; the sliders take the focus in their turn, the window buttons last.
    const int bar[] = {IDC_STOP, IDC_PREV,          IDC_PLAY,       IDC_NEXT,     IDC_AUTONEXT,
                       IDC_SHOW_QUESTION, IDC_SHOW_ANSWER, IDC_PRAC,  IDC_TEST,     IDC_SLIDER_SOURCE,
                       IDC_SLIDER_MIC,    IDC_MINIMIZE,    IDC_MAXIMIZE, IDC_CLOSE};
    std::vector<int> chain;
    QWidget* w = control(IDC_STOP);
    do {
        for (int id : bar)
            if (control(id) == w)
                chain.push_back(id);
        w = w->nextInFocusChain();
    } while (w != control(IDC_STOP));
    EXPECT_EQ(chain, std::vector<int>(std::begin(bar), std::end(bar)));
    control(IDC_MINIMIZE)->setFocus(Qt::TabFocusReason);
    for (int id : {IDC_SLIDER_MIC, IDC_SLIDER_SOURCE}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), control(id)) << id;
    }

    // Enter on the close button presses it: the dialog ends with IDOK.
    control(IDC_CLOSE)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(control(IDC_CLOSE), Qt::Key_Return);
    EXPECT_EQ(m_dlg->result(), IDOK);
    EXPECT_FALSE(m_dlg->isVisible());
}

// Without a lesson Play cannot act: no control holds the focus, so the first
// Tab goes to the bar and no key lands on a window button.
TEST_F(MainWindowTest, WithoutALessonNoWindowButtonHoldsTheFirstFocus) {
    Start("");
    Show();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    QWidget* focused = QApplication::focusWidget();
    for (int id : {IDC_MINIMIZE, IDC_MAXIMIZE, IDC_CLOSE})
        EXPECT_NE(focused, m_dlg->Button(id)) << id;
    QTest::keyClick(m_dlg.get(), Qt::Key_Space);
    QTest::keyClick(m_dlg.get(), Qt::Key_Return);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_FALSE(m_dlg->m_bMaximized);
}

TEST_F(MainWindowTest, MaximiseButtonAloneRestoresTheWindow) {
    Start("");
    Show();
    Click(IDC_MAXIMIZE);
    EXPECT_TRUE(m_dlg->m_bMaximized);
    EXPECT_TRUE(m_dlg->windowState() & Qt::WindowMaximized);

    // A restore from elsewhere (task bar, keyboard) is undone.
    m_dlg->showNormal();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_dlg->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(m_dlg->m_bMaximized);

    Click(IDC_MAXIMIZE);
    EXPECT_FALSE(m_dlg->m_bMaximized);
    EXPECT_FALSE(m_dlg->windowState() & Qt::WindowMaximized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_dlg->windowState() & Qt::WindowMaximized);

    // A minimised window is restored from anywhere. (The offscreen platform keeps
    // no task bar, so the restore is asked for directly.)
    Click(IDC_MINIMIZE);
    EXPECT_TRUE(m_dlg->windowState() & Qt::WindowMinimized);
    m_dlg->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_dlg->windowState(), Qt::WindowNoState);
    EXPECT_FALSE(m_dlg->m_bMaximized);
}

TEST_F(MainWindowTest, VolumesChangeOnlyWhenAMoveOfTheSliderEnds) {
    Start("");
    Show();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    QWindow* window = Window();
    CRudSliderCtrl* source = m_dlg->Slider(IDC_SLIDER_SOURCE);
    const QPoint sliderOrigin = source->pos();

    // Drag the handle 8 pixels to the left: the position follows at once, the mixer
    // only after the button is released.
    QPoint grip = SliderHandle(source).center() + sliderOrigin;
    QTest::mousePress(window, Qt::LeftButton, {}, grip);
    QTest::mouseMove(window, grip - QPoint(4, 0));
    QTest::mouseMove(window, grip - QPoint(8, 0));
    const int dragged = source->value();
    EXPECT_LT(dragged, 70);
    EXPECT_TRUE(VolumeLog().empty());
    QTest::mouseRelease(window, Qt::LeftButton, {}, grip - QPoint(8, 0));
    const std::string v = std::to_string(dragged);
    EXPECT_EQ(VolumeLog(), std::vector<std::string>{"volume|Test Card|Stereo Mix|" + v + "/" + v});
    SimLineState mix;
    ASSERT_TRUE(GetSimLineState("Test Card", "Stereo Mix", mix));
    EXPECT_EQ(mix.volume, (std::vector<DWORD>{DWORD(dragged), DWORD(dragged)}));

    // A click on the microphone slider's groove right of the handle pages up by 20.
    ClearSimMixerLog();
    CRudSliderCtrl* mic = m_dlg->Slider(IDC_SLIDER_MIC);
    QRect handle = SliderHandle(mic);
    QPoint groove = QPoint(std::min(handle.right() + 4, mic->width() - 2), handle.center().y()) + mic->pos();
    QTest::mousePress(window, Qt::LeftButton, {}, groove);
    EXPECT_TRUE(VolumeLog().empty());
    QTest::mouseRelease(window, Qt::LeftButton, {}, groove);
    EXPECT_EQ(mic->value(), 50);
    EXPECT_EQ(VolumeLog(), std::vector<std::string>{"volume|Test Card|Microphone|50"});

    // The click gave the slider the keyboard. A key moves it at once (5 % an arrow,
    // 20 % a page) and the volume is written once, when the key is let go; a key held
    // down writes once at the end.
    EXPECT_EQ(QApplication::focusWidget(), mic);
    struct {
        Qt::Key key;
        int repeats;
        int value;
    } moves[] = {{Qt::Key_Left, 0, 45}, {Qt::Key_PageDown, 1, 5}, {Qt::Key_End, 0, 100}, {Qt::Key_Down, 4, 75}};
    for (const auto& move : moves) {
        SCOPED_TRACE(move.key);
        ClearSimMixerLog();
        QTest::keyPress(mic, move.key);
        for (int i = 0; i < move.repeats; ++i) {
            QKeyEvent release(QEvent::KeyRelease, move.key, Qt::NoModifier, QString(), true);
            QKeyEvent press(QEvent::KeyPress, move.key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(mic, &release);
            QApplication::sendEvent(mic, &press);
        }
        EXPECT_EQ(mic->value(), move.value);
        EXPECT_TRUE(VolumeLog().empty());
        QTest::keyRelease(mic, move.key);
        EXPECT_EQ(VolumeLog(), std::vector<std::string>{"volume|Test Card|Microphone|" + std::to_string(move.value)});
    }

    // Positions set by the program are not applied back.
    ClearSimMixerLog();
    source->setValue(10);
    EXPECT_TRUE(VolumeLog().empty());
}

TEST_F(MainWindowTest, FailedMixerCheckShowsItsTextAndClosesBeforeAnythingElse) {
    const std::string package = OnePage("Q", "A", false);
    struct {
        const char* description;
        const char* text;
    } cases[] = {
        // No card can record 44.1 kHz stereo.
        {"[device]\nname = Mono Only\nformats = 0x1\n[line]\nname = Microphone\n",
         "CRudMixer::CheckDevice : 녹음이 가능한 사운드 카드가 없습니다."},
        // A card with nothing to record from.
        {"[device]\nname = Synth Only\n[line]\nname = Synth\ntype = synthesizer\n", "녹음이 불가능한 사운드 카드입니다."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        testsupport::WriteFile(m_tmp.file("bad-mixer.txt"), c.description);
        UseMixer(m_tmp.file("bad-mixer.txt"));
        m_box.shown.clear();
        std::unique_ptr<CMainDlg> dlg = Construct(package);
        EXPECT_EQ(dlg->OnInitDialog(), 0);
        EXPECT_EQ(m_box.shown, std::vector<std::string>{c.text});
        EXPECT_EQ(dlg->result(), IDCANCEL);
        EXPECT_FALSE(dlg->m_bInitialized);
        EXPECT_FALSE(dlg->m_bLessonLoaded);
        EXPECT_TRUE(testsupport::Exists(package));  // not opened, so not deleted
        EXPECT_FALSE(testsupport::Exists(TempFolder() + "/config.cfg"));
        dlg.reset();
        EXPECT_EQ(m_box.shown.size(), 1u);  // the clean-up adds nothing
    }
}

// The real message boxes and file chooser with Qt's Korean texts installed: the
// question reads 예 / 아니요, the OK box 확인, and the file dialog is Qt's own, in Korean.
TEST(StandardDialogs, SpeakKoreanWhateverTheDesktopLanguage) {
    ASSERT_TRUE(InstallStandardDialogTexts());
    auto texts = [](QMessageBox* box) {
        std::vector<std::string> out;
        for (QAbstractButton* b : box->buttons())
            out.push_back(b->text().toStdString());
        std::sort(out.begin(), out.end());
        return out;
    };
    struct {
        UINT type;
        std::vector<std::string> buttons;  // sorted
        int answer;
    } boxes[] = {{MB_YESNO, {"아니요(&N)", "예(&Y)"}, IDNO}, {MB_OK, {"확인"}, IDOK}};
    CQtMessageBox messageBox;
    for (const auto& c : boxes) {
        std::vector<std::string> seen;
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_TRUE(box);
            seen = texts(box);
            box->buttons().front()->click();
        });
        const int answer = messageBox.Show("학습한 내용을 서버로 전송하시겠습니까?", c.type);
        EXPECT_EQ(seen, c.buttons);
        if (c.type == MB_YESNO)
            EXPECT_TRUE(answer == IDYES || answer == IDNO);
        else
            EXPECT_EQ(answer, IDOK);
    }

    std::vector<std::string> labels;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_TRUE(dialog);
        for (auto* box : dialog->findChildren<QDialogButtonBox*>())
            for (QAbstractButton* b : box->buttons())
                labels.push_back(b->text().toStdString());
        std::sort(labels.begin(), labels.end());
        EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("강좌 파일 (*.viz)")});
        dialog->reject();
    });
    std::string path;
    EXPECT_FALSE(CQtFileChooser().ChooseOpenFile("강좌 파일 (*.viz)", path));
    EXPECT_EQ(labels, (std::vector<std::string>{"열기(&O)", "취소"}));
}

// Boxes and the file dialog belong to the window that asked: transient for it
// (a Wayland compositor gets them as its children), centred on it, with a title
// and a close button only (the file dialog may also be maximised), and wide
// enough for the whole title. With no owner they are centred on the screen.
TEST(StandardDialogs, StandCentredOverTheirOwnerWithOnlyTheButtonsTheyNeed) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // Placement keeps a box on the screen; within it, its centre is the area's.
    const struct {
        QSize box;
        QRect area;
        QRect expected;
    } places[] = {
        {{200, 100}, {40, 30, 400, 300}, {140, 130, 200, 100}},
        {{201, 101}, {40, 30, 400, 300}, {139, 129, 201, 101}},
        {{300, 200}, {-500, -400, 400, 300}, {screen.left(), screen.top(), 300, 200}},
        {{300, 200}, {screen.right() - 100, screen.bottom() - 50, 400, 300},
         {screen.right() + 1 - 300, screen.bottom() + 1 - 200, 300, 200}},
    };
    for (const auto& p : places)
        EXPECT_EQ(CentredRect(p.box, p.area, screen), p.expected) << p.area.x();

    // A Wayland compositor places windows itself: there only the parent counts.
    const bool placed = QGuiApplication::platformName() != QLatin1String("wayland");
    QWidget owner;
    owner.setGeometry(40, 30, 400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    struct Seen {
        QRect geometry;
        QWindow* transientParent = nullptr;
        Qt::WindowFlags flags;
        int titleWidth = 0;
    };
    auto seeAndClose = [&](Seen& seen) {
        WhenModal([&seen](QWidget* modal) {
            seen.geometry = modal->geometry();
            seen.transientParent = modal->windowHandle() ? modal->windowHandle()->transientParent() : nullptr;
            seen.flags = modal->windowFlags();
            seen.titleWidth = QFontMetrics(QApplication::font()).horizontalAdvance(modal->windowTitle());
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->buttons().front()->click();
            else
                static_cast<QDialog*>(modal)->reject();
        });
    };
    const QPoint ownerCentre = owner.geometry().center();
    for (UINT type : {MB_OK, MB_YESNO}) {
        for (QWidget* boxOwner : {static_cast<QWidget*>(&owner), static_cast<QWidget*>(nullptr)}) {
            Seen seen;
            seeAndClose(seen);
            CQtMessageBox(boxOwner).Show("전송이 완료 되었습니다.", type);
            const QPoint centre = boxOwner ? ownerCentre : screen.center();
            if (placed) {
                EXPECT_LE((seen.geometry.center() - centre).manhattanLength(), 2) << type << " " << !!boxOwner;
            }
            EXPECT_EQ(seen.transientParent, boxOwner ? owner.windowHandle() : nullptr);
            EXPECT_FALSE(seen.flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) << type;
            EXPECT_TRUE(seen.flags & Qt::WindowCloseButtonHint) << type;
            EXPECT_GE(seen.geometry.width(), seen.titleWidth + 100) << type;
        }
    }
    Seen chooser;
    seeAndClose(chooser);
    std::string path;
    EXPECT_FALSE(CQtFileChooser(&owner).ChooseOpenFile("강좌 파일 (*.viz)", path));
    EXPECT_EQ(chooser.transientParent, owner.windowHandle());
    EXPECT_FALSE(chooser.flags & Qt::WindowMinimizeButtonHint);
    // Too large for the owner on this small screen: kept on the screen, give or
    // take a window frame's margin.
    if (placed) {
        EXPECT_LE((CentredRect(chooser.geometry.size(), owner.geometry(), screen).topLeft() -
                   chooser.geometry.topLeft()).manhattanLength(),
                  4);
    }
}

// ---- drawing, read back from the rendered window

TEST_F(MainWindowTest, SkinCoversTheWindowAndTheEmptyViewIsBlack) {
    Start("");
    Show();
    for (QSize size : {QSize(800, 600), QSize(1013, 677), QSize(600, 450)}) {
        m_dlg->resize(size);
        Shot shot = Grab();
        ASSERT_EQ(shot.Size(), size);
        // The window colour is only the fill under the skin; it never shows.
        auto background = shot.Find(QRect(QPoint(0, 0), size), [](const QColor& c) { return c == kWindowBackground; });
        EXPECT_TRUE(background.empty()) << size.width() << "x" << size.height() << ": first at " << background[0].x()
                                        << "," << background[0].y();
        QRect view(3, 2, size.width() - 6, size.height() - 45);
        auto notBlack = shot.Find(view, [](const QColor& c) { return !IsBlack(c); });
        EXPECT_TRUE(notBlack.empty()) << size.width() << "x" << size.height();
        // The frame around the view is skin, not black.
        EXPECT_FALSE(IsBlack(shot.At(1, size.height() / 2)));
        EXPECT_FALSE(IsBlack(shot.At(size.width() / 2, size.height() - 20)));
    }
}

TEST_F(MainWindowTest, PictureIsCentredOnBlackAndTheViewFollowsTheWindow) {
    Start(OnePage("", "", false));
    Show();
    Shot shot = Grab();
    const QColor cyan(0, 128, 128);
    EXPECT_EQ(shot.At(kPictureOver.center().x(), kPictureOver.center().y()), cyan);
    EXPECT_EQ(shot.At(kPictureOver.left() + 1, 200), cyan);
    EXPECT_EQ(shot.At(kPictureOver.right() - 1, 200), cyan);
    for (int x : {3, 4, 20, kPictureOver.left() - 1, kPictureOver.right() + 1, 796})
        EXPECT_TRUE(IsBlack(shot.At(x, 200))) << x;
    EXPECT_TRUE(IsBlack(shot.At(400, 2)));    // the 1-pixel rim of the view
    EXPECT_TRUE(IsBlack(shot.At(400, 556)));

    m_dlg->resize(1000, 600);
    shot = Grab();
    // Still as high as the view, centred in the wider view: (1000 - 6 - 2 - 737) / 2 + 4.
    EXPECT_EQ(shot.At(131, 300), cyan);
    EXPECT_TRUE(IsBlack(shot.At(130, 300)));
    EXPECT_EQ(shot.At(867, 300), cyan);
    EXPECT_TRUE(IsBlack(shot.At(868, 300)));
}

TEST_F(MainWindowTest, PaintsCopyOneCompositionMadeAgainOnlyForANewSizePageOrTexts) {
    Start(OnePage("What colour is it?", "Cyan.", false));
    Show();
    QCoreApplication::processEvents();
    struct Step {
        const char* what;
        std::function<void()> action;
        bool composedAgain;
    };
    const std::vector<Step> steps = {
        {"a full repaint", [&] { m_dlg->repaint(); }, false},
        {"the countdown's box alone", [&] { m_dlg->repaint(m_dlg->CountdownRect()); }, false},
        {"a level message", [&] {
             QCoreApplication::postEvent(m_dlg.get(), new CWindowMessageEvent(WM_RECORD_LEVEL, 95, 0));
             QCoreApplication::processEvents();
         }, false},
        {"a tick", [&] { Tick(500); }, false},
        {"the question shown", [&] { Click(IDC_SHOW_QUESTION); }, true},
        {"the answer shown", [&] { Click(IDC_SHOW_ANSWER); }, true},
        {"the next page", [&] { Click(IDC_NEXT); }, true},
        {"a resize", [&] { m_dlg->resize(900, 650); }, true},
        {"a repaint at the new size", [&] { m_dlg->repaint(); }, false},
    };
    for (const Step& step : steps) {
        const int before = m_dlg->GetCompositionCount();
        Shot expected = Grab();  // composes first where something changed
        step.action();
        QCoreApplication::processEvents();
        Shot shot = Grab();
        const int made = m_dlg->GetCompositionCount() - before;
        EXPECT_EQ(made > 0, step.composedAgain) << step.what << ": composed " << made << " times";
        if (!step.composedAgain && std::string(step.what) != "a level message") {
            EXPECT_EQ(shot.Image(), expected.Image()) << step.what;
        }
        // The composition holds the page picture's one copy.
        EXPECT_TRUE(m_dlg->m_picture.IsLoaded()) << step.what;
        EXPECT_TRUE(m_dlg->m_picture.GetImage().isNull()) << step.what;
    }
}

TEST_F(MainWindowTest, LevelMessagesFillTheBarFromItsLeftEnd) {
    Start(OnePage("", "", false));
    Show();
    QScreen* screen = m_dlg->screen();
    // Bar rows 558..562, from x = 5 to x = 795 exclusive: 790 pixels.
    auto fillEnd = [](const Shot& shot) {
        int x = 5;
        while (x < shot.Size().width() && shot.At(x, 560) == kLevelFill)
            ++x;
        return x;
    };
    Shot shot = Grab();
    EXPECT_EQ(fillEnd(shot), 5);  // level 0 after opening

    // 95 gives (95 - 20) / 1.5 = 50 %: 395 pixels.
    QCoreApplication::postEvent(m_dlg.get(), new CWindowMessageEvent(WM_RECORD_LEVEL, 95, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_dlg->m_nLevel, 50);
    // Drawn at once, without waiting for the next full repaint: read what is on screen.
    Shot onScreen(screen->grabWindow(m_dlg->winId()).toImage());
    EXPECT_EQ(fillEnd(onScreen), 400);
    shot = Grab();
    EXPECT_EQ(fillEnd(shot), 400);
    for (int y = 558; y <= 562; ++y)
        EXPECT_EQ(shot.At(5, y), kLevelFill) << y;
    EXPECT_NE(shot.At(5, 557), kLevelFill);
    EXPECT_NE(shot.At(5, 563), kLevelFill);

    // Below 20 is silence; above 170 fills the bar and stops at its end, 5 pixels
    // short of the window's edge as it starts 5 pixels in.
    {
        CWindowMessageEvent level(WM_RECORD_LEVEL, 7, 0);
        QCoreApplication::sendEvent(m_dlg.get(), &level);
    }
    EXPECT_EQ(fillEnd(Grab()), 5);
    {
        CWindowMessageEvent level(WM_RECORD_LEVEL, 200, 0);
        QCoreApplication::sendEvent(m_dlg.get(), &level);
    }
    EXPECT_EQ(m_dlg->m_nLevel, 120);
    EXPECT_EQ(fillEnd(Grab()), 795);

    // The bar keeps its place at the bottom of a larger window.
    {
        CWindowMessageEvent level(WM_RECORD_LEVEL, 95, 0);
        QCoreApplication::sendEvent(m_dlg.get(), &level);
    }
    m_dlg->resize(1000, 700);
    shot = Grab();
    EXPECT_EQ(shot.At(5, 660), kLevelFill);
    EXPECT_EQ(shot.At(5 + 494, 660), kLevelFill);  // 50 % of 990: 495 pixels
    EXPECT_NE(shot.At(5 + 495, 660), kLevelFill);
}

TEST_F(MainWindowTest, CountdownShowsInYellowOnlyDuringAPause) {
    Start(OnePage("", "", false));
    Show();
    const QRect countdown(628, 570, 31, 24);
    auto yellowIn = [](const Shot& shot, const QRect& area) {
        return shot.Find(area, IsYellowInk);
    };
    const QRect everywhere(0, 0, 800, 600);
    EXPECT_TRUE(yellowIn(Grab(), everywhere).empty());

    // A single play has no pause.
    Click(IDC_PLAY);
    ASSERT_TRUE(m_dlg->IsPlaying());
    EXPECT_TRUE(yellowIn(Grab(), everywhere).empty());
    Click(IDC_STOP);

    // An automatic run: nothing while the sound plays, the seconds left during the pause.
    Click(IDC_AUTONEXT);
    ASSERT_TRUE(m_dlg->m_bAutoPlaying);
    Tick(500);
    EXPECT_TRUE(yellowIn(Grab(), everywhere).empty());
    while (m_dlg->IsPlaying())
        Tick(500);
    ASSERT_NE(m_dlg->m_dwWaitStart, 0u);
    Shot three = Grab();
    auto digits = yellowIn(three, everywhere);
    ASSERT_FALSE(digits.empty());
    EXPECT_TRUE(countdown.contains(Bounds(digits))) << "yellow outside the countdown box";
    // Full-strength pixels of the strokes are pure yellow.
    int strongest = 0;
    for (const QPoint& p : digits) {
        QColor c = three.At(p.x(), p.y());
        strongest = std::max(strongest, std::min(c.red(), c.green()) - c.blue());
    }
    EXPECT_GE(strongest, 220);
    // Centred in its box.
    QRect b = Bounds(digits);
    EXPECT_LE(std::abs((b.center().x()) - countdown.center().x()), 2);
    EXPECT_LE(std::abs((b.center().y()) - countdown.center().y()), 3);
    Tick(1000);
    Shot two = Grab();
    ASSERT_FALSE(yellowIn(two, countdown).empty());
    EXPECT_NE(three.Image().copy(countdown), two.Image().copy(countdown));  // 3, then 2

    // Switched off: the countdown goes with the run.
    Click(IDC_AUTONEXT);
    EXPECT_TRUE(yellowIn(Grab(), everywhere).empty());
}

TEST_F(MainWindowTest, TextsOverThePictureAreBlackAndSitAtItsBottom) {
    const std::string question(
        "Where does the little train go every morning before the sun comes up over the hills and the river, "
        "and who waits for it at the last station?");
    Start(OnePage(question, "To the sea.", false));
    Show();
    // The text rectangle: the picture less 10 pixels on every side.
    const QRect tr = kPictureOver.adjusted(10, 10, -10, -10);
    const QRect inside = kPictureOver.adjusted(1, 1, -1, -1);
    EXPECT_TRUE(Grab().Find(inside, IsDarkInk).empty());

    Click(IDC_SHOW_ANSWER);
    Shot answerOnly = Grab();
    auto answerInk = answerOnly.Find(inside, IsDarkInk);
    ASSERT_FALSE(answerInk.empty());
    QFontMetrics fm(m_dlg->m_fontText.font(&answerOnly.Image()), &answerOnly.Image());
    const int line = fm.height();
    QRect answer = Bounds(answerInk);
    EXPECT_TRUE(tr.contains(answer));
    EXPECT_LE(answer.left(), tr.left() + 2);      // left-aligned
    EXPECT_GE(answer.top(), tr.bottom() + 1 - line);  // one line at the bottom
    EXPECT_GE(answer.bottom(), tr.bottom() + 1 - line / 2);

    Click(IDC_SHOW_QUESTION);
    Shot both = Grab();
    auto ink = both.Find(inside, IsDarkInk);
    std::vector<QPoint> questionInk;
    for (const QPoint& p : ink)
        if (p.y() < answer.top() - 5)
            questionInk.push_back(p);
    // Everything not in the answer's band is the question, wrapped inside the rectangle
    // and ending 5 pixels above the answer's line.
    ASSERT_FALSE(questionInk.empty());
    QRect q = Bounds(questionInk);
    EXPECT_TRUE(tr.contains(q));
    EXPECT_GE(q.height(), line + 1);  // more than one line
    EXPECT_LE(q.bottom(), tr.bottom() + 1 - line - 5);
    EXPECT_GE(q.bottom(), tr.bottom() + 1 - line - 5 - line);
    EXPECT_EQ(Bounds(ink), q.united(answer));

    // In test mode no text is drawn, whatever "QT" and "AT" say.
    Click(IDC_TEST);
    ASSERT_TRUE(m_dlg->m_bShowQuestion && m_dlg->m_bShowAnswer);
    EXPECT_TRUE(Grab().Find(inside, IsDarkInk).empty());
    Click(IDC_PRAC);
    EXPECT_FALSE(Grab().Find(inside, IsDarkInk).empty());
}

TEST_F(MainWindowTest, TextsBesideThePictureAreWhiteAndStartAtItsTop) {
    Start(OnePage("Question line", "Answer line", true));
    Show();
    Shot plain = Grab();
    const QColor cyan(0, 128, 128);
    EXPECT_EQ(plain.At(kPictureBeside.center().x(), kPictureBeside.center().y()), cyan);
    EXPECT_TRUE(IsBlack(plain.At(kPictureBeside.center().x(), kPictureBeside.top() - 2)));
    const QRect leftHalf(3, 2, kPictureBeside.left() - 3, 555);
    EXPECT_TRUE(plain.Find(leftHalf, IsBrightInk).empty());

    Click(IDC_SHOW_QUESTION);
    Click(IDC_SHOW_ANSWER);
    Shot shot = Grab();
    // The text rectangle: from 11 pixels into the view, as high as the picture.
    const QRect tr(14, kPictureBeside.top(), 378, kPictureBeside.height());
    QFontMetrics fm(m_dlg->m_fontText.font(&shot.Image()), &shot.Image());
    const int line = fm.height();
    auto ink = shot.Find(leftHalf, IsBrightInk);
    ASSERT_FALSE(ink.empty());
    std::vector<QPoint> questionInk, answerInk;
    for (const QPoint& p : ink)
        (p.y() < tr.top() + line ? questionInk : answerInk).push_back(p);
    QRect q = Bounds(questionInk), a = Bounds(answerInk);
    ASSERT_FALSE(questionInk.empty());
    ASSERT_FALSE(answerInk.empty());
    EXPECT_TRUE(tr.contains(q));
    EXPECT_TRUE(tr.contains(a));
    EXPECT_LE(q.top(), tr.top() + line / 2);             // from the picture's top
    EXPECT_GE(a.top(), tr.top() + line + 25);            // 25 pixels below the question
    EXPECT_LE(a.bottom(), tr.top() + line + 25 + line);  // one line high
    EXPECT_LE(q.left(), tr.left() + 2);
    // The picture itself carries no text.
    EXPECT_TRUE(shot.Find(kPictureBeside.adjusted(1, 1, -1, -1), [](const QColor& c) { return c != QColor(0, 128, 128); })
                    .empty());
}

}  // namespace
