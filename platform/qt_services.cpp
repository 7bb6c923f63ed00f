#include "qt_services.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

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

int CQtMessageBox::Show(const std::string& text, UINT type) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromStdString(text));
    // Texts may carry names from outside (a link's host): never read as markup.
    box.setTextFormat(Qt::PlainText);
    // Learners can copy a message for whoever helps them.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
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
    QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), QString(), QString::fromStdString(filter),
                                                  nullptr, QFileDialog::DontUseNativeDialog);
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
