#include "settings_file.h"

#include "program_texts.h"
#include "regular_file.h"
#include "text_int.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace veldar {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view PortMarker = "[PORT_COMM]";
constexpr std::string_view FolderMarker = "[CHEMIN_DESTINATION]";

// A tick's marker and the choice it holds, in the file's order.
struct TickLine {
    std::string_view Marker;
    bool SaveChoices::*Ticked;
};
constexpr TickLine TickLines[] = {
    {"[VOIR_DONNEES]", &SaveChoices::ViewFile},
    {"[NOM_FIC_AUTO]", &SaveChoices::AutoFileName},
    {"[ECRASER_FICHIER]", &SaveChoices::OverwriteFile},
};

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

// The marker a line holds. Tried in the file's order, the port's first: the first one the
// line contains decides.
struct Marker {
    enum Kind { Port, Folder, Tick, None } Of = None;
    const TickLine* Line = nullptr; // the tick's
};

Marker FirstMarker(std::string_view line) {
    auto holds = [line](std::string_view marker) {
        return line.find(marker) != std::string_view::npos;
    };
    if (holds(PortMarker)) return {Marker::Port};
    if (holds(FolderMarker)) return {Marker::Folder};
    for (const TickLine& tick : TickLines)
        if (holds(tick.Marker)) return {Marker::Tick, &tick};
    return {};
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

#ifdef _WIN32

std::optional<std::wstring> Widened(std::string_view bytes, UINT codePage, DWORD flags) {
    const int size = static_cast<int>(bytes.size());
    int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), n);
    return wide;
}

// Nothing when a character has no form in the code page (no look-alike is taken instead).
std::optional<ByteString> Narrowed(const std::wstring& wide, UINT codePage) {
    const int size = static_cast<int>(wide.size());
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = codePage == CP_UTF8 ? nullptr : &lossy;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, lossyOut);
    if (n <= 0 || lossy) return std::nullopt;
    ByteString bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), n, nullptr, lossyOut);
    return lossy ? std::nullopt : std::optional<ByteString>(bytes);
}

bool HasHighBytes(std::string_view bytes) {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Valid UTF-8 with bytes above 127 is UTF-8; anything else is the ANSI code page, as every
// file written before the folder could be named in another script.
fs::path FolderOfLine(std::string_view line) {
    if (line.empty()) return {};
    if (HasHighBytes(line))
        if (auto utf8 = Widened(line, CP_UTF8, MB_ERR_INVALID_CHARS)) return *utf8;
    return Widened(line, CP_ACP, 0).value_or(std::wstring());
}

// ANSI when every character has its form there and the bytes do not read as UTF-8 (they
// would be read back as UTF-8); UTF-8 otherwise.
ByteString LineOfFolder(const fs::path& folder) {
    const std::wstring& wide = folder.native();
    if (wide.empty()) return {};
    auto ansi = Narrowed(wide, CP_ACP);
    if (ansi && !(HasHighBytes(*ansi) && Widened(*ansi, CP_UTF8, MB_ERR_INVALID_CHARS)))
        return *ansi;
    return Narrowed(wide, CP_UTF8).value_or(ByteString());
}

#else

// A folder's name is the bytes the file system has for it.
fs::path FolderOfLine(std::string_view line) {
    return fs::path(std::string(line));
}

ByteString LineOfFolder(const fs::path& folder) {
    return folder.native();
}

#endif

// The file a link points to, so the link survives the save; the path itself otherwise.
fs::path RealFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    fs::path real = fs::canonical(path, ec);
    return ec ? path : real;
}

// A file that cannot be read as settings (too large, failing reads) may be the user's: it
// goes under a name of its own, never over an earlier one. False when it could not.
bool KeepAside(const fs::path& file) {
    std::error_code ec;
    for (int n = 1; n <= 100; ++n) {
        fs::path aside = file;
        aside += texts::UnreadableSettingsSuffix;
        if (n > 1) aside += std::to_string(n);
        if (fs::exists(fs::symlink_status(aside, ec))) continue;
        fs::rename(file, aside, ec);
        return !ec;
    }
    return false;
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
    Settings result = std::move(current);
    result.Port = 1;
    std::vector<std::string_view> lines = Lines(fileBytes);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Marker marker = FirstMarker(lines[i]);
        if (marker.Of == Marker::None) continue;
        // The value is the next line, taken whatever it holds.
        std::string_view value;
        if (i + 1 < lines.size()) value = lines[++i];
        switch (marker.Of) {
        case Marker::Port:
            result.Port = PortNumber(value);
            break;
        case Marker::Folder:
            result.Choices.DestPath = FolderOfLine(value);
            break;
        case Marker::Tick: {
            bool& ticked = result.Choices.*(marker.Line->Ticked);
            ticked = ticked || ReadsAsTrue(value);
            break;
        }
        case Marker::None:
            break;
        }
    }
    return result;
}

ByteString FormatSettings(const std::string& portText, const SaveChoices& choices) {
    ByteString text;
    auto line = [&text](std::string_view bytes) {
        text += bytes;
        text += LineEnd;
    };
    line(PortMarker);
    line(portText);
    line(FolderMarker);
    line(LineOfFolder(choices.DestPath));
    for (const TickLine& tick : TickLines) {
        line(tick.Marker);
        line(Flag(choices.*(tick.Ticked)));
    }
    return text;
}

SettingsWrite WriteSettingsFile(const fs::path& path, const ByteString& content) {
    std::error_code ec;
    const fs::path real = RealFile(path);
    const fs::file_status status = fs::status(real, ec);
    if (IsReadOnly(status)) return SettingsWrite::Failed;
    // Only a regular file is ever written: opening a FIFO could block the quit for good, and
    // a device is no place for settings.
    if (fs::exists(status) && !fs::is_regular_file(status)) return SettingsWrite::Failed;
    if (fs::is_regular_file(status) && !ReadRegularFile(real, MaxSettingsFileSize) &&
        !KeepAside(real))
        return SettingsWrite::Failed;

    fs::path temp = real;
    temp += ".tmp";
    // What an earlier run left under that name goes first: a new file is made in its place.
    if (!fs::is_directory(fs::symlink_status(temp, ec))) fs::remove(temp, ec);
    switch (WriteRegularFile(temp, content, WriteMode::CreateNew, false)) {
    case WriteResult::NotOpened:
        // The folder takes no new file (a file prepared under a protected folder): the
        // existing file is rewritten where it is.
        if (!fs::is_regular_file(status)) return SettingsWrite::Failed;
        return WriteRegularFile(real, content, WriteMode::Replace, false) == WriteResult::Written
                   ? SettingsWrite::Written
                   : SettingsWrite::Failed;
    case WriteResult::WriteFailed:
        return SettingsWrite::Failed;
    case WriteResult::Written:
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
    std::optional<ByteString> bytes = ReadRegularFile(path, MaxSettingsFileSize);
    if (!bytes) throw std::runtime_error(texts::SettingsUnreadable);
    return bytes;
}

} // namespace veldar
