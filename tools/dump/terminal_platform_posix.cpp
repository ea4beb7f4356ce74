#include "terminal_platform.h"

#include "port_names.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace veldar {

void InstallStopHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

std::tm LocalTimeOf(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

std::filesystem::path ExecutableFolderPath() {
    return ExecutableFolder();
}

std::filesystem::path HomeFolderPath() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

int WaitForStdin(int milliseconds) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&input, 1, milliseconds);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

void OpenWithDesktop(const std::filesystem::path& file) {
    std::string path = file.string();
    char opener[] = "xdg-open";
    char* argv[] = {opener, path.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, WNOHANG);
}

long PeakResidentKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace veldar
