#include "dialogs/DialogUtil.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWidget>

#include "config/EAbort.h"

QIcon WayfolioIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/wayfolio/icons/wayfolio-%1.png").arg(size),
                     QSize(size, size));
    return icon;
}

int ShellOpen(const QString& target) {
    QUrl url;
    if (QDir::isAbsolutePath(target)) {
        if (!QFileInfo::exists(target)) return ShellOpenNotFound;
        url = QUrl::fromLocalFile(target);
    } else {
        url = QUrl(target, QUrl::StrictMode);
        // Relative text (a bare word such as a missing value's placeholder) would be
        // handed to the desktop as a file name in whatever folder it runs in.
        if (!url.isValid() || url.isRelative()) return ShellOpenNotFound;
    }
    return QDesktopServices::openUrl(url) ? ShellOpenOk : ShellOpenNoAssociation;
}

void ShowException(QWidget* parent, const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    QString title = QGuiApplication::applicationDisplayName();
    QMessageBox::critical(parent, title, BytesToQString(e.what()));
}

void ShowCurrentException(QWidget* parent) {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(parent, e);
    } catch (...) {
        QMessageBox::critical(parent, QGuiApplication::applicationDisplayName(),
                              QStringLiteral("Unknown error"));
    }
}

void CenterOnScreen(QWidget* widget) {
    QScreen* screen = widget->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = widget->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    widget->move(frame.topLeft());
}
