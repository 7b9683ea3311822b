// How the main window first appears on the desktop.
#pragma once

class QWidget;

// Shows the window maximised. Just after the first showing, the embedded browser makes
// the platform replace the window's native window, and under a window manager the
// replacement comes up at the window's normal size; the window is then maximised
// again. What the user does with it afterwards is left alone.
void ShowMaximized(QWidget* window);
