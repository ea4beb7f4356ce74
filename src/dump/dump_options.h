// What the user chose for saving, handed to the dump engine as a plain value when a run
// starts (and again when its capture is saved, so that a folder picked during the dump
// still counts). Folders are paths of the platform.
#pragma once

#include <filesystem>

namespace veldar {

struct DumpOptions {
    bool AutoFileName = false;
    bool OverwriteFile = false;
    bool ViewFile = false;
    // Destination folder of the capture files: a folder named in any script must work, so it
    // never passes through Windows-1252.
    std::filesystem::path DestPath;
    // The program's folder, ending with a path delimiter: the executable's, or the user's
    // configuration folder for an installed program.
    std::filesystem::path ProgramFolder;
    // The user's home folder, for a rescue copy when nothing else can be written.
    std::filesystem::path HomeFolder;
};

} // namespace veldar
