// Where the program's Windows-1252 texts meet Qt.
#pragma once

#include "com_types.h"
#include "cp1252.h"

#include <QString>

namespace veldar {

inline QString FromCp1252(const ByteString& text) {
    return QString::fromStdString(Cp1252ToUtf8(text));
}

inline ByteString ToCp1252(const QString& text) {
    return Utf8ToCp1252(text.toStdString());
}

// The program's texts end lines with CR LF; a reply keeps its lone CR, which the log shows
// as a line break when an error text follows it and as nothing at the end.
inline QString ToDisplay(const ByteString& text) {
    QString shown = FromCp1252(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QChar('\r'))) shown.chop(1);
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

} // namespace veldar
