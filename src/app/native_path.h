// Paths between Qt and the platform. Folders never pass through Windows-1252: a folder named
// in any script is written, saved and shown as it is.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>

namespace veldar {

// Qt's text of a path as the platform's path (on Linux, the bytes Qt gives the file system).
inline std::filesystem::path ToPath(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

// The path as Qt shows it; on Linux bytes that are not UTF-8 cannot fail here.
inline QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace veldar
