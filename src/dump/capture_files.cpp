#include "capture_files.h"

#include "cp1252.h"

#include <fstream>
#include <system_error>

namespace veldar {

std::filesystem::path NativePath(const ByteString& cp1252) {
    std::string utf8 = Cp1252ToUtf8(cp1252);
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

ByteString WithDelimiter(const ByteString& folder) {
    if (!folder.empty() && (folder.back() == PathDelimiter || folder.back() == '/')) return folder;
    return folder + PathDelimiter;
}

bool CaptureFiles::FolderExists(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec);
}

bool CaptureFiles::FileExists(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::exists(file, ec);
}

bool CaptureFiles::IsReadOnly(const std::filesystem::path& file) {
    using std::filesystem::perms;
    std::error_code ec;
    auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return false;
    return (status.permissions() &
            (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

bool CaptureFiles::Write(const std::filesystem::path& file, const ByteString& bytes, bool append) {
    std::ofstream out(file, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    bool ok = static_cast<bool>(out);
    out.close();
    return ok && !out.fail();
}

} // namespace veldar
