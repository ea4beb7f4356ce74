// The file operations of the capture writer, behind a seam so tests can make them fail.
#pragma once

#include "com_types.h"

#include <filesystem>

namespace veldar {

// A Windows-1252 path of the program as a path of the platform.
std::filesystem::path NativePath(const ByteString& cp1252);

// The platform's path delimiter.
#ifdef _WIN32
inline constexpr char PathDelimiter = '\\';
#else
inline constexpr char PathDelimiter = '/';
#endif

// The folder followed by a delimiter unless it already ends with one.
ByteString WithDelimiter(const ByteString& folder);

class CaptureFiles {
public:
    virtual ~CaptureFiles() = default;
    virtual bool FolderExists(const std::filesystem::path& folder);
    virtual bool FileExists(const std::filesystem::path& file);
    // No write permission at all (the read-only attribute on Windows). Asked of the file's
    // mode, not of access(), which says yes to root.
    virtual bool IsReadOnly(const std::filesystem::path& file);
    // Creates (emptying an existing file) or extends the file with the bytes, flushed.
    // False on any input/output error.
    virtual bool Write(const std::filesystem::path& file, const ByteString& bytes, bool append);
};

} // namespace veldar
