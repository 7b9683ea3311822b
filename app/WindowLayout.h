// How the main window appears on the desktop, and how it comes back as it was left.
#pragma once

#include <QList>
#include <QString>

class QSplitter;
class QWidget;

// Shows the window maximised. Just after the first showing, the embedded browser makes
// the platform replace the window's native window, and under a window manager the
// replacement comes up at the window's normal size; the window is then maximised
// again. What the user does with it afterwards is left alone.
void ShowMaximized(QWidget* window);

// The file that keeps the window's layout between starts: "wayfolio/window.ini" in
// $XDG_STATE_HOME (~/.local/state). It is the window's own, never the configuration
// file that the Settings dialog writes.
QString LayoutFileName();

// Shows the window as it was left: size, position, maximised or not, and the splitters'
// positions (in the order given). Without a kept layout, maximised.
void ShowWithLayout(QWidget* window, const QList<QSplitter*>& splitters);

// Keeps the window's layout for the next start; a failure to write is ignored (the
// layout is a convenience, the program works without it).
void SaveLayout(const QWidget* window, const QList<QSplitter*>& splitters);
