#include "terminal_platform.h"

#include <csignal>
#include <cstdlib>
#include <io.h>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

namespace veldar {

void InstallStopHandler(void (*handler)(int)) {
    // The C runtime maps Ctrl-C to SIGINT and Ctrl-Break to SIGBREAK; a closed console
    // ends the process whatever is installed.
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
    std::signal(SIGBREAK, handler);
}

bool StdinIsTerminal() {
    return _isatty(0) != 0;
}

bool StderrIsTerminal() {
    return _isatty(2) != 0;
}

std::tm LocalTimeOf(std::time_t seconds) {
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

std::filesystem::path ExecutableFolderPath() {
    std::vector<wchar_t> name(MAX_PATH);
    while (true) {
        DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) return {};
        if (n < name.size()) break;
        name.resize(name.size() * 2);
    }
    return std::filesystem::path(name.data()).parent_path();
}

std::filesystem::path HomeFolderPath() {
    const wchar_t* home = _wgetenv(L"USERPROFILE");
    return home ? std::filesystem::path(home) : std::filesystem::path();
}

int WaitForStdin(int milliseconds) {
    switch (WaitForSingleObject(GetStdHandle(STD_INPUT_HANDLE), static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
        return 1;
    case WAIT_TIMEOUT:
        return 0;
    default:
        return -1;
    }
}

void OpenWithDesktop(const std::filesystem::path& file) {
    ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

long PeakResidentKib() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

} // namespace veldar
