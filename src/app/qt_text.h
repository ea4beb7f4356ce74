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

} // namespace veldar
