// The window's toolbar: the commands people use most, one click away.
#pragma once

#include <QStyle>
#include <vector>

class QAction;
class QMainWindow;
class QToolBar;

// One button: the action, the short text it shows on the toolbar (menus keep the full
// caption) and the style's icon for it. A row without an action is a separator.
struct TToolButton {
    QAction* Action;
    const char* Text;
    QStyle::StandardPixmap Icon;
};

// A fixed toolbar on top of window with the buttons in order, text beside icon.
QToolBar* CreateToolBar(QMainWindow* window, const std::vector<TToolButton>& buttons);
