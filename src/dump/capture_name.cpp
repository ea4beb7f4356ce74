#include "capture_name.h"

#include "cp1252.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace veldar {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

bool IsRefused(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 and the superscripts COM¹-COM³, LPT¹-LPT³, alone
// or before an extension, in any case. Windows drops the spaces that end the name before
// its extension: "CON .txt" is CON too.
bool IsReservedDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    stem.erase(stem.find_last_not_of(' ') + 1);
    std::transform(stem.begin(), stem.end(), stem.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    static constexpr std::array<std::string_view, 4> Plain = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(Plain.begin(), Plain.end(), stem) != Plain.end()) return true;
    // Windows-1252 superscripts one, two, three.
    static constexpr std::string_view Digits = "123456789\xB9\xB2\xB3";
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           Digits.find(stem[3]) != std::string_view::npos;
}

// What one Windows-1252 character takes in a file name: its UTF-8 form, up to three bytes.
std::size_t NameBytes(char c) {
    return static_cast<unsigned char>(c) < 0x80 ? 1 : Cp1252ToUtf8(std::string(1, c)).size();
}

} // namespace

std::string FittedFileName(const std::string& name, std::string_view suffix) {
    std::size_t bytes = 0;
    for (char c : suffix)
        bytes += NameBytes(c);
    std::size_t kept = 0;
    while (kept < name.size() && bytes + NameBytes(name[kept]) <= MaxFileNameLength)
        bytes += NameBytes(name[kept++]);
    return name.substr(0, kept);
}

std::string TrimBlanks(const std::string& text) {
    auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string SafeFileName(const std::string& name) {
    std::string safe = TrimBlanks(name);
    std::replace_if(safe.begin(), safe.end(), IsRefused, '_');
    if (safe == "." || safe == "..") return std::string();
    if (IsReservedDeviceName(safe)) safe.insert(safe.begin(), '_');
    return safe;
}

} // namespace veldar
