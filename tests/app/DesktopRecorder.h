// Stands in for the desktop: while it lives, QDesktopServices hands every address of
// the given schemes here instead of to a browser, a file manager or another program.
#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

class TDesktopRecorder : public QObject {
    Q_OBJECT
public:
    explicit TDesktopRecorder(const QStringList& schemes);
    ~TDesktopRecorder() override;

    // What reached the desktop, fully encoded, in order.
    QStringList opened;

public slots:
    void Open(const QUrl& url);

private:
    QStringList schemes_;
};
