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
std::filesystem::path ExecutableFolderPath();

// The user's home folder (empty when unknown).
std::filesystem::path HomeFolderPath();

// Waits at most milliseconds for typed input: 1 when some is there, 0 when none came, -1
// when standard input cannot be watched.
int WaitForStdin(int milliseconds);

// Opens the file in the desktop's program for it; the answer is not waited for.
void OpenWithDesktop(const std::filesystem::path& file);

// The process's peak resident size in KiB.
long PeakResidentKib();

} // namespace veldar
