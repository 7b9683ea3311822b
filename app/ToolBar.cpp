#include "app/ToolBar.h"

#include <QAction>
#include <QMainWindow>
#include <QToolBar>

QToolBar* CreateToolBar(QMainWindow* window, const std::vector<TToolButton>& buttons) {
    auto* bar = new QToolBar("Toolbar", window);
    bar->setObjectName("ToolBar");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    for (const TToolButton& button : buttons) {
        if (!button.Action) {
            bar->addSeparator();
            continue;
        }
        if (button.Action->icon().isNull())
            button.Action->setIcon(window->style()->standardIcon(button.Icon));
        button.Action->setIconText(button.Text);
        bar->addAction(button.Action);
    }
    window->addToolBar(Qt::TopToolBarArea, bar);
    return bar;
}
