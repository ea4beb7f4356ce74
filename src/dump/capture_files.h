// The file operations of the capture writer, behind a seam so tests can make them fail.
#pragma once

#include "com_types.h"
#include "regular_file.h"

#include <filesystem>

namespace veldar {

// A Windows-1252 name of the program (a name the device sent, a typed one) as a path of the
// platform. Folders are paths of the platform already and never pass through here.
std::filesystem::path NativePath(const ByteString& cp1252);

// The folder followed by a path delimiter unless it already ends with one, then the name.
std::filesystem::path InFolder(const std::filesystem::path& folder,
                               const std::filesystem::path& name);

// The folder ending with a path delimiter.
std::filesystem::path WithDelimiter(const std::filesystem::path& folder);

// The path as Windows-1252 text for the log; characters the code page lacks become '?'.
ByteString PathText(const std::filesystem::path& path);

class CaptureFiles {
public:
    virtual ~CaptureFiles() = default;
    virtual bool FolderExists(const std::filesystem::path& folder);
    // Anything of that name, a dangling link included.
    virtual bool FileExists(const std::filesystem::path& file);
    // No write permission at all (the read-only attribute on Windows). Asked of the file's
    // mode, not of access(), which says yes to root.
    virtual bool IsReadOnly(const std::filesystem::path& file);
    // Writes the bytes into a regular file, never through a link in its own name; false
    // on anything else or any input/output error, with no debris left (WriteRegularFile).
    virtual bool Write(const std::filesystem::path& file, BytePieces bytes, WriteMode mode);
    // The written file on the disk, and its folder's entry (SyncRegularFile).
    virtual bool Sync(const std::filesystem::path& file);
};

// Writes the bytes under a name not yet taken in the folder: name.txt, name_2.txt... and
// returns the file; empty when none could be written (a failed attempt leaves nothing).
std::filesystem::path WriteNewCapture(CaptureFiles& files, const std::filesystem::path& folder,
                                      const ByteString& baseName, BytePieces bytes);

} // namespace veldar
