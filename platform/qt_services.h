// Qt implementations of the small platform services the dialogs use.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>
#include <mutex>

#include "file_chooser.h"
#include "message_box.h"
#include "message_target.h"

// The application's name for message box titles: the executable's name without
// its extension.
QString ApplicationTitle();

// Qt's own Korean texts for the standard buttons and dialogs (예, 아니요, 확인, the
// file dialog), whatever the desktop's language: every other text of the player is
// Korean. Call once, after the QApplication exists; false when the translations are
// not installed (the texts then stay English).
bool InstallStandardDialogTexts();

// Makes `box` belong to `owner`'s window: transient for it (window managers keep it
// above the player, Wayland compositors get it as the player's child) and, where
// the program places its windows, centred on it when it shows. A box without an
// owner, or whose owner is not on screen, is centred on the screen.
void PlaceOverOwner(QWidget* box, QWidget* owner);
// Centred on `area` (logical screen coordinates): a window that is yet to open.
void PlaceOverArea(QWidget* box, const QRect& area);
// Where the box's client area goes: centred on `area`, kept inside `screen`.
QRect CentredRect(const QSize& box, const QRect& area, const QRect& screen);

// OK boxes without an icon, and the Yes/No question, over the owner's window.
class CQtMessageBox : public IMessageBox {
public:
    explicit CQtMessageBox(QWidget* owner = nullptr) : m_owner(owner) {}
    int Show(const std::string& text, UINT type) override;

private:
    QPointer<QWidget> m_owner;
};

class CQtFileChooser : public IFileChooser {
public:
    explicit CQtFileChooser(QWidget* owner = nullptr) : m_owner(owner) {}
    bool ChooseOpenFile(const std::string& filter, std::string& path) override;

private:
    QPointer<QWidget> m_owner;
};

// A posted window message as a Qt event: type QEvent::User + (msg - WM_USER).
class CWindowMessageEvent : public QEvent {
public:
    CWindowMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam);
    static QEvent::Type TypeFor(UINT msg) { return static_cast<QEvent::Type>(QEvent::User + (msg - WM_USER)); }
    UINT message() const { return m_msg; }
    WPARAM wParam() const { return m_wParam; }
    LPARAM lParam() const { return m_lParam; }

private:
    UINT m_msg;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

// Posts window messages to a QObject from any thread. The owner calls Detach()
// before the object goes away (its destructor at the latest); later posts are dropped.
class CQtMessageTarget : public IMessageTarget {
public:
    explicit CQtMessageTarget(QObject* receiver) : m_receiver(receiver) {}
    ~CQtMessageTarget() override { Detach(); }
    void Detach();
    bool IsWindow() const override;
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    mutable std::mutex m_lock;
    QObject* m_receiver;
};
