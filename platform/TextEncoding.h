#pragma once
// The one text encoding rule of every file the desk reads or writes.
// Reading: UTF-8 when the bytes are valid UTF-8 (a byte-order mark is dropped), otherwise
// Windows-1252, the single-byte code page of the files written by earlier versions of the desk.
// Writing: Windows-1252 without byte-order mark whenever every character fits, so that files stay
// byte-identical to what the desk always wrote; UTF-8 only when a text holds a character that
// Windows-1252 lacks, so that no name is ever lost.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

QString decodeText(const QByteArray &bytes);
// True when decodeText reads the bytes as UTF-8 and they are more than plain ASCII: a byte-order
// mark, or characters beyond ASCII in valid UTF-8.
bool isUtf8Text(const QByteArray &bytes);
QByteArray encodeText(const QString &text);
bool fitsWindows1252(const QString &text);
QString decodeWindows1252(const QByteArray &bytes);
QByteArray encodeWindows1252(const QString &text); // characters that do not fit become '?'
// The Windows-1252 byte of a character, -1 when the code page has none.
int windows1252Byte(QChar c);

// Splits a text into lines at CR LF, LF or a lone CR. A line end at the very end of the text
// starts no further line; an empty text has no lines.
QStringList splitLines(const QString &text);

} // namespace platform
