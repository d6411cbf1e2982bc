// A text start list's bytes as the import decodes them and splits them into lines, and every
// text as the desk's files write it: what is written reads back the same.

#include "TextEncoding.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = platform::decodeText(bytes);
    for (const QString &line : platform::splitLines(text))
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            std::abort();
    // Valid UTF-16 texts only: the desk's own texts never hold a lone surrogate.
    const QString written = QString::fromUtf8(QString::fromUtf16(reinterpret_cast<const char16_t *>(data), static_cast<qsizetype>(size / 2)).toUtf8());
    // Left out: a text whose Windows-1252 bytes happen to be valid UTF-8 ("Ã¤" reads back as
    // "ä", a leading "ï»¿" as a byte-order mark, which reading drops), and one that begins with a
    // byte-order mark itself.
    const QByteArray encoded = platform::encodeText(written);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    utf8.decode(encoded);
    const bool readsAsUtf8 = platform::fitsWindows1252(written) && !utf8.hasError();
    if (!readsAsUtf8 && !written.startsWith(QChar(0xFEFF)) && platform::decodeText(encoded) != written)
        std::abort();
    return 0;
}
