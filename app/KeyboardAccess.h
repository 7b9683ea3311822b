// The window without the mouse: menus that open from the keyboard and a key that
// moves the focus from pane to pane.
#pragma once

#include <QList>

class QMainWindow;
class QWidget;

// Gives every menu of the window's menu bar its first letter as mnemonic (Alt with the
// letter opens it; the letter is only underlined, the caption stays), makes F10 open
// the first menu, and makes F6 and Shift+F6 move the focus forward and back through
// panes (the pane holding the focus, or the first, is the starting point).
void InstallKeyboardAccess(QMainWindow* window, const QList<QWidget*>& panes);
