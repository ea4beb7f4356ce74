// Paths between Qt and the platform. Folders never pass through Windows-1252: a folder named
// in any script is written, saved and shown as it is.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#ifndef _WIN32
#include <map>
#include <mutex>
#include <string>
#endif

namespace veldar {

#ifndef _WIN32
namespace native_path_detail {

// Qt reads Linux names as UTF-8 and has no lossless way for other bytes (a Latin-1 "Donn\xe9es"
// comes back as U+FFFD): the bytes of every path shown that way are kept by their text, so that
// the text given back to ToPath names the same file.
struct LossyNames {
    std::mutex lock;
    std::map<QString, std::string> bytes;
};

inline LossyNames& Lossy() {
    static LossyNames names;
    return names;
}

} // namespace native_path_detail
#endif

// Qt's text of a path as the platform's path (on Linux, the bytes Qt gives the file system,
// or those of the path FromPath turned into that text).
inline std::filesystem::path ToPath(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    {
        auto& names = native_path_detail::Lossy();
        const std::lock_guard<std::mutex> hold(names.lock);
        if (auto known = names.bytes.find(text); known != names.bytes.end())
            return std::filesystem::path(known->second);
    }
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

// The path as Qt shows it; on Linux bytes that are not UTF-8 cannot fail here.
inline QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    QString text = QFile::decodeName(QByteArray::fromStdString(path.native()));
    if (QFile::encodeName(text).toStdString() != path.native()) {
        auto& names = native_path_detail::Lossy();
        const std::lock_guard<std::mutex> hold(names.lock);
        names.bytes[text] = path.native();
    }
    return text;
#endif
}

} // namespace veldar
