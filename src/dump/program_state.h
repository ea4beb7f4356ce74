// The program-wide state of the main unit, shared by the window and the dump engine.
// Texts are Windows-1252 bytes; the destination folder is a path of the platform.
#pragma once

#include "com_types.h"

#include <filesystem>
#include <string>

namespace veldar {

struct ProgramState {
    // Bytes asked by every read of the program.
    const int ReadCount = 250;
    // The bytes of the last read; inside a dump, the whole current record.
    ByteString RxBuffer;
    // Destination folder of the capture files, as the platform names it: a folder named in any
    // script must work, so it never passes through Windows-1252.
    std::filesystem::path DestPath;
    // The capture file's name; ".txt" is added when saved.
    ByteString FileName;
    const std::string IniName = "VELDAR.ini";
    // The payloads accepted in the current or last dump, each followed by CR LF.
    ByteString CaptureText;
    // True from start until the port is first opened, then while a dump runs: the dump
    // triggers do nothing while it is true.
    bool Busy = true;
    bool Quitting = false;
    bool InTray = false;
};

} // namespace veldar
