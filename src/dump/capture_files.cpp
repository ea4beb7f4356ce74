#include "capture_files.h"

#include "cp1252.h"

#include <system_error>

namespace veldar {

namespace fs = std::filesystem;

fs::path NativePath(const ByteString& cp1252) {
    std::string utf8 = Cp1252ToUtf8(cp1252);
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

fs::path WithDelimiter(const fs::path& folder) {
    const auto& text = folder.native();
    // No folder stays none: never the root folder.
    if (text.empty() || (text.back() == fs::path::preferred_separator || text.back() == '/'))
        return folder;
    fs::path ended = folder;
    ended += fs::path::preferred_separator;
    return ended;
}

fs::path InFolder(const fs::path& folder, const fs::path& name) {
    fs::path file = WithDelimiter(folder);
    file += name;
    return file;
}

ByteString PathText(const fs::path& path) {
    try {
        std::u8string utf8 = path.u8string();
        return Utf8ToCp1252(std::string(utf8.begin(), utf8.end()));
    } catch (const std::exception&) {
        // A Windows name with a lone surrogate has no UTF-8 form.
        return "?";
    }
}

bool CaptureFiles::FolderExists(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

bool CaptureFiles::FileExists(const fs::path& file) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(file, ec));
}

bool CaptureFiles::IsReadOnly(const fs::path& file) {
    using fs::perms;
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (ec || !fs::is_regular_file(status)) return false;
    return (status.permissions() &
            (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

bool CaptureFiles::Write(const fs::path& file, BytePieces bytes, WriteMode mode) {
    return WriteRegularFile(file, bytes, mode, false) == WriteResult::Written;
}

bool CaptureFiles::Sync(const fs::path& file) {
    return SyncRegularFile(file);
}

fs::path WriteNewCapture(CaptureFiles& files, const fs::path& folder, const ByteString& baseName,
                         BytePieces bytes) {
    if (!files.FolderExists(folder)) return {};
    for (int n = 1; n < 1000; ++n) {
        ByteString name = baseName;
        if (n > 1) {
            name += '_';
            name += std::to_string(n);
        }
        name += ".txt";
        auto path = InFolder(folder, NativePath(name));
        if (files.FileExists(path)) continue;
        if (!files.Write(path, bytes, WriteMode::CreateNew)) return {};
        return path;
    }
    return {};
}

} // namespace veldar
