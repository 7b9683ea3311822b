#include "app/KeyboardAccess.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>

namespace {

// The index of the pane that holds the focus; -1 when none does.
int FocusedPane(const QList<QPointer<QWidget>>& panes) {
    QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < panes.size(); ++i)
        if (panes[i] && focus && (panes[i] == focus || panes[i]->isAncestorOf(focus))) return i;
    return -1;
}

void MoveFocus(const QList<QPointer<QWidget>>& panes, int step) {
    if (panes.isEmpty()) return;
    const int n = static_cast<int>(panes.size());
    const int from = FocusedPane(panes);
    int next = from < 0 ? 0 : (from + step + n) % n;
    for (int tried = 0; tried < n; ++tried, next = (next + step + n) % n) {
        QWidget* pane = panes[next];
        if (pane && pane->isVisible() && pane->isEnabled()) {
            pane->setFocus(Qt::ShortcutFocusReason);
            return;
        }
    }
}

}  // namespace

void InstallKeyboardAccess(QMainWindow* window, const QList<QWidget*>& panes) {
    QMenuBar* bar = window->menuBar();
    for (QAction* menu : bar->actions())
        if (menu->menu() && !menu->text().contains('&')) menu->setText("&" + menu->text());

    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(f10, &QShortcut::activated, bar, [bar] {
        for (QAction* menu : bar->actions())
            if (menu->menu() && menu->isVisible() && menu->isEnabled()) {
                bar->setActiveAction(menu);
                return;
            }
    });

    QList<QPointer<QWidget>> guarded;
    for (QWidget* pane : panes) guarded << pane;
    auto* forward = new QShortcut(QKeySequence(Qt::Key_F6), window);
    QObject::connect(forward, &QShortcut::activated, window, [guarded] { MoveFocus(guarded, 1); });
    auto* back = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), window);
    QObject::connect(back, &QShortcut::activated, window, [guarded] { MoveFocus(guarded, -1); });
}
