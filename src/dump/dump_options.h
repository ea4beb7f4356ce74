// What the dump engine is given as a plain value when a run starts (and again when its
// capture is saved, so that a folder picked during the dump still counts): the user's choices
// and the program's folders. Folders are paths of the platform.
#pragma once

#include "save_choices.h"

#include <filesystem>

namespace veldar {

struct DumpOptions : SaveChoices {
    // The program's folder, ending with a path delimiter: the executable's, or the user's
    // configuration folder for an installed program.
    std::filesystem::path ProgramFolder;
    // The user's home folder, for a rescue copy when nothing else can be written.
    std::filesystem::path HomeFolder;
};

} // namespace veldar
