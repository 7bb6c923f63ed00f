#include "qt_services.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QString ApplicationTitle() {
    QString path = QCoreApplication::applicationFilePath();
    if (path.isEmpty())
        return QStringLiteral("Vorur_Ozudiz");
    return QFileInfo(path).completeBaseName();
}

int CQtMessageBox::Show(const std::string& text, UINT type) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromStdString(text));
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
    QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), QString(), QString::fromStdString(filter));
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
