// What the user chose for saving: the ticks of the tray menu and the destination folder. One
// value, held by the window, kept in the settings file, given on veldar-dump's command line,
// and handed to the dump engine as part of its DumpOptions. A new tick is a field here, its
// line in ChoiceItems (its text in program_texts.h) and its marker in settings_file.cpp.
#pragma once

#include "program_texts.h"

#include <filesystem>

namespace veldar {

struct SaveChoices {
    bool AutoFileName = false;
    bool OverwriteFile = false;
    bool ViewFile = false;
    // Destination folder of the capture files: a folder named in any script must work, so it
    // never passes through Windows-1252.
    std::filesystem::path DestPath;
};

// A tick of the tray menu: its text (Windows-1252) and the choice it shows and changes.
struct ChoiceItem {
    const char* Text;
    bool SaveChoices::*Ticked;
};

// The ticks in the menu's order.
inline constexpr ChoiceItem ChoiceItems[] = {
    {texts::MenuAutoName, &SaveChoices::AutoFileName},
    {texts::MenuOverwrite, &SaveChoices::OverwriteFile},
    {texts::MenuViewFile, &SaveChoices::ViewFile},
};

} // namespace veldar
