#include "tests/app/DesktopRecorder.h"

#include <QDesktopServices>

TDesktopRecorder::TDesktopRecorder(const QStringList& schemes) : schemes_(schemes) {
    for (const QString& scheme : schemes_) QDesktopServices::setUrlHandler(scheme, this, "Open");
}

TDesktopRecorder::~TDesktopRecorder() {
    for (const QString& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
}

void TDesktopRecorder::Open(const QUrl& url) {
    opened << QString::fromLatin1(url.toEncoded());
}
