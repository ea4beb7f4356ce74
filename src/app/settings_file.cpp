#include "settings_file.h"

#include "text_int.h"

#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

namespace veldar {

namespace fs = std::filesystem;

namespace {

// In the order they are tried on a line: the first one the line contains decides.
enum Marker { mkPort, mkFolder, mkViewFile, mkAutoFileName, mkOverwrite, mkNone };
constexpr std::string_view Markers[] = {"[PORT_COMM]", "[CHEMIN_DESTINATION]", "[VOIR_DONNEES]",
                                        "[NOM_FIC_AUTO]", "[ECRASER_FICHIER]"};

constexpr std::string_view LineEnd = "\r\n";

// Each line ends at LF, one CR before it dropped; a last line without LF still counts.
std::vector<std::string_view> Lines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

Marker FirstMarker(std::string_view line) {
    for (int m = mkPort; m < mkNone; ++m)
        if (line.find(Markers[m]) != std::string_view::npos) return static_cast<Marker>(m);
    return mkNone;
}

// "COM12" gives 12: the first three characters are skipped whatever they are.
int PortNumber(std::string_view value) {
    std::string rest(value.size() > 3 ? value.substr(3) : std::string_view{});
    return TextToInt(rest).value_or(1);
}

// A non-zero number (the file's "-1") or the word True in any case.
bool ReadsAsTrue(std::string_view value) {
    if (auto number = TextToInt(std::string(value))) return *number != 0;
    constexpr std::string_view word = "true";
    if (value.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = value[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

const char* Flag(bool ticked) {
    return ticked ? "-1" : "0";
}

// Creates or empties the file and writes the bytes, flushed and closed.
enum class Put { Done, NotOpened, WriteFailed };
Put PutFile(const fs::path& file, const ByteString& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return Put::NotOpened;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    out.close();
    return out.fail() ? Put::WriteFailed : Put::Done;
}

// The file a link points to, so the link survives the save; the path itself otherwise.
fs::path RealFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    fs::path real = fs::canonical(path, ec);
    return ec ? path : real;
}

// No write permission at all (the read-only attribute on Windows). Asked of the mode, as
// root may write anything.
bool IsReadOnly(const fs::file_status& status) {
    using fs::perms;
    return fs::is_regular_file(status) &&
           (status.permissions() &
            (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

} // namespace

Settings ParseSettings(const ByteString& fileBytes, Settings current) {
    Settings result = current;
    result.Port = 1;
    std::vector<std::string_view> lines = Lines(fileBytes);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Marker marker = FirstMarker(lines[i]);
        if (marker == mkNone) continue;
        // The value is the next line, taken whatever it holds.
        std::string_view value;
        if (i + 1 < lines.size()) value = lines[++i];
        switch (marker) {
        case mkPort:
            result.Port = PortNumber(value);
            break;
        case mkFolder:
            result.DestPath = ByteString(value);
            break;
        case mkViewFile:
            result.ViewFile = result.ViewFile || ReadsAsTrue(value);
            break;
        case mkAutoFileName:
            result.AutoFileName = result.AutoFileName || ReadsAsTrue(value);
            break;
        case mkOverwrite:
            result.Overwrite = result.Overwrite || ReadsAsTrue(value);
            break;
        case mkNone:
            break;
        }
    }
    return result;
}

ByteString FormatSettings(const std::string& portText, const ByteString& destPath, bool viewFile,
                          bool autoFileName, bool overwrite) {
    const std::string_view lines[] = {
        Markers[mkPort],      portText,       Markers[mkFolder],       destPath,
        Markers[mkViewFile],  Flag(viewFile), Markers[mkAutoFileName], Flag(autoFileName),
        Markers[mkOverwrite], Flag(overwrite)};
    ByteString text;
    for (std::string_view line : lines) {
        text += line;
        text += LineEnd;
    }
    return text;
}

SettingsWrite WriteSettingsFile(const fs::path& path, const ByteString& content) {
    std::error_code ec;
    const fs::path real = RealFile(path);
    const fs::file_status status = fs::status(real, ec);
    if (IsReadOnly(status)) return SettingsWrite::Failed;
    // A device cannot be replaced by renaming, and must not be: it takes the bytes directly.
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status))
        return PutFile(real, content) == Put::Done ? SettingsWrite::Written : SettingsWrite::Failed;

    fs::path temp = real;
    temp += ".tmp";
    // What an earlier run left under that name goes first: writing through a link left there
    // would change the file it points to.
    if (!fs::is_directory(fs::symlink_status(temp, ec))) fs::remove(temp, ec);
    switch (PutFile(temp, content)) {
    case Put::NotOpened:
        // The folder takes no new file (a file prepared under a protected folder): the
        // existing file is rewritten where it is.
        if (!fs::is_regular_file(status)) return SettingsWrite::Failed;
        return PutFile(real, content) == Put::Done ? SettingsWrite::Written : SettingsWrite::Failed;
    case Put::WriteFailed:
        fs::remove(temp, ec);
        return SettingsWrite::Failed;
    case Put::Done:
        break;
    }
    if (fs::is_regular_file(status)) fs::permissions(temp, status.permissions(), ec);
    fs::rename(temp, real, ec);
    if (ec) {
        fs::remove(temp, ec);
        return SettingsWrite::Failed;
    }
    return SettingsWrite::Written;
}

std::optional<ByteString> ReadSettingsFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found || fs::is_directory(status)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(SettingsUnreadable);
    ByteString bytes;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw std::runtime_error(SettingsUnreadable);
    return bytes;
}

} // namespace veldar
