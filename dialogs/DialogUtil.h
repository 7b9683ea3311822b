// Small pieces the dialogs share with the main window: the application icon, opening
// an address the way the desktop does, showing an error the way the program's general
// error handler does, and owning a modal dialog for the length of one command.
#pragma once

#include <QIcon>
#include <QPointer>
#include <QString>
#include <exception>
#include <string>

#include "text/QtText.h"

class QWidget;

// The application's icon, in every size it is drawn at (resource ":/wayfolio/icons/").
QIcon WayfolioIcon();

// Opens a web address (or an absolute path of an existing file) with the desktop's
// handler and answers like the Windows shell does: a value above 32 on success,
// 2 (not found) for text that is no absolute address, 31 (no application) when the
// desktop could not open it. Pass the result through CheckShellExecute.
int ShellOpen(const QString& target);
inline constexpr int ShellOpenOk = 42;
inline constexpr int ShellOpenNotFound = 2;
inline constexpr int ShellOpenNoAssociation = 31;

// Shows the exception's message in an error box over parent; the silent abort (EAbort)
// shows nothing. For slots, so that no exception crosses the event loop.
void ShowException(QWidget* parent, const std::exception& e);
// The same for the exception being handled (call inside a catch block only).
void ShowCurrentException(QWidget* parent);

// Moves a top-level widget to the centre of the screen it is on (the primary screen
// when it has none yet).
void CenterOnScreen(QWidget* widget);

// Owns a dialog for one command and deletes it on every path. The pointer is guarded:
// when the parent goes first and takes the dialog with it, nothing is deleted twice.
template <class T>
class TOwnedDialog {
public:
    explicit TOwnedDialog(T* dialog) : dialog_(dialog) {}
    ~TOwnedDialog() { delete dialog_.data(); }
    TOwnedDialog(const TOwnedDialog&) = delete;
    TOwnedDialog& operator=(const TOwnedDialog&) = delete;

    T* get() const { return dialog_.data(); }
    T* operator->() const { return dialog_.data(); }
    explicit operator bool() const { return !dialog_.isNull(); }

private:
    QPointer<T> dialog_;
};
