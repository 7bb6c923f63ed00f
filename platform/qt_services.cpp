#include "qt_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QTranslator>
#include <algorithm>

#include "diagnostics.h"

QString ApplicationTitle() {
    QString path = QCoreApplication::applicationFilePath();
    if (path.isEmpty())
        return QStringLiteral("Vorur_Ozudiz");
    return QFileInfo(path).completeBaseName();
}

bool InstallStandardDialogTexts() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        Diagnose("cannot load Qt's Korean translations", (folder + QStringLiteral("/qtbase_ko.qm")).toStdString());
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QRect CentredRect(const QSize& box, const QRect& area, const QRect& screen) {
    int x = area.x() + (area.width() - box.width()) / 2;
    int y = area.y() + (area.height() - box.height()) / 2;
    // Whole on the screen where it fits; its top-left corner on it where it does not.
    if (screen.isValid()) {
        x = std::max(screen.left(), std::min(x, screen.right() + 1 - box.width()));
        y = std::max(screen.top(), std::min(y, screen.bottom() + 1 - box.height()));
    }
    return QRect(QPoint(x, y), box);
}

namespace {

// Places the box as it shows, before the window system maps it, so it never
// appears elsewhere first.
class CBoxPlacement : public QObject {
public:
    static constexpr const char* kName = "vorur-box-placement";

    CBoxPlacement(QWidget* box, QWidget* owner, const QRect& area) : QObject(box), m_owner(owner), m_area(area) {
        setObjectName(QLatin1String(kName));
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Show && !event->spontaneous())
            Place(static_cast<QWidget*>(watched));
        return false;
    }

private:
    void Place(QWidget* box) {
        // A message box works out its size only once it is visible; asked again
        // now, it takes the size it shows at.
        if (auto* message = qobject_cast<QMessageBox*>(box))
            message->setText(message->text());
        QRect area = m_area;
        QScreen* screen = nullptr;
        QWidget* owner = m_owner ? m_owner->window() : nullptr;
        if (owner && owner->isVisible() && !owner->isMinimized()) {
            area = owner->geometry();  // the client area, as the box's own is placed
            screen = owner->screen();
        } else if (area.isValid()) {
            screen = QGuiApplication::screenAt(area.center());
        }
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect();
        if (!area.isValid())
            area = available;
        // The client area's place: a window manager puts the frame around it.
        box->setGeometry(CentredRect(box->size(), area, available));
    }

    QPointer<QWidget> m_owner;
    QRect m_area;
};

void InstallPlacement(QWidget* box, QWidget* owner, const QRect& area) {
    // (Found by name: the class has no meta-object of its own to be found by.)
    for (QObject* old : box->findChildren<QObject*>(QLatin1String(CBoxPlacement::kName), Qt::FindDirectChildrenOnly)) {
        box->removeEventFilter(old);
        delete old;
    }
    box->installEventFilter(new CBoxPlacement(box, owner, area));
}

// A title bar's own buttons and margins take this much beside the title.
constexpr int kTitleBarRoom = 160;

// Wide enough that the title bar shows the whole title.
void KeepTitleWhole(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const int width = QFontMetrics(QApplication::font()).horizontalAdvance(box.windowTitle()) + kTitleBarRoom;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

}  // namespace

void PlaceOverOwner(QWidget* box, QWidget* owner) {
    QWidget* window = owner ? owner->window() : nullptr;
    // A parent is what makes the box transient for the player's window.
    if (window && box->parentWidget() != window)
        box->setParent(window, box->windowFlags());
    InstallPlacement(box, window, QRect());
}

void PlaceOverArea(QWidget* box, const QRect& area) { InstallPlacement(box, nullptr, area); }

int CQtMessageBox::Show(const std::string& text, UINT type) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromStdString(text), QMessageBox::NoButton,
                    m_owner ? m_owner->window() : nullptr);
    // A title and a close button: a box of fixed size is neither maximised nor
    // minimised on its own.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    PlaceOverOwner(&box, m_owner);
    // Texts may carry names from outside (a link's host): never read as markup.
    box.setTextFormat(Qt::PlainText);
    // Learners can copy a message for whoever helps them.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    KeepTitleWhole(box);
    if (type == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

bool CQtFileChooser::ChooseOpenFile(const std::string& filter, std::string& path) {
    // Qt's own dialog, so that it speaks Korean like the rest of the player; a
    // desktop's dialog would follow the desktop's language.
    QFileDialog dialog(m_owner ? m_owner->window() : nullptr, QString(), QString(), QString::fromStdString(filter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // It can be made larger, so it may be maximised; minimising a modal dialog
    // would only hide it.
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    PlaceOverOwner(&dialog, m_owner);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString chosen = dialog.selectedFiles().front();
    if (chosen.isEmpty() || !QFileInfo(chosen).isFile())
        return false;
    path = QFile::encodeName(chosen).toStdString();
    return true;
}

CWindowMessageEvent::CWindowMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam)
    : QEvent(TypeFor(msg)), m_msg(msg), m_wParam(wParam), m_lParam(lParam) {}

void CQtMessageTarget::Detach() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_receiver = nullptr;
}

bool CQtMessageTarget::IsWindow() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_receiver != nullptr;
}

bool CQtMessageTarget::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Holding the lock while posting keeps Detach() from completing in between,
    // so the receiver is alive for the whole call.
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_receiver)
        return false;
    QCoreApplication::postEvent(m_receiver, new CWindowMessageEvent(msg, wParam, lParam));
    return true;
}
