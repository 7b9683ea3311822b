#include "text/QtText.h"

#include <QStringDecoder>

#include "text/Utf8.h"

QString BytesToQString(const std::string& bytes) {
    const auto size = static_cast<qsizetype>(bytes.size());
    if (!IsValidUtf8(bytes)) return QString::fromLatin1(bytes.data(), size);
    // QString::fromUtf8 would drop a leading BOM; the text keeps every character.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(QByteArrayView(bytes.data(), size));
}
