// What veldar-dump needs from the system beyond the standard library, for POSIX systems and
// for Windows.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

namespace veldar {

// SIGINT and SIGTERM (Ctrl-C and Ctrl-Break on a Windows console) call handler.
void InstallStopHandler(void (*handler)(int));

bool StdinIsTerminal();
bool StderrIsTerminal();

std::tm LocalTimeOf(std::time_t seconds);

// The folder of the running executable (empty when it cannot be found).
std::string ExecutableFolderPath();

// The user's home folder (empty when unknown).
std::string HomeFolderPath();

// Opens the file in the desktop's program for it; the answer is not waited for.
void OpenWithDesktop(const std::filesystem::path& file);

// The process's peak resident size in KiB.
long PeakResidentKib();

} // namespace veldar
