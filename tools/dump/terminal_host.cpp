#include "terminal_host.h"

#include "capture_files.h"
#include "config_location.h"
#include "cp1252.h"
#include "port_names.h"
#include "sync_queue.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace veldar {

TerminalHost::TerminalHost(ProgramState& state, TerminalOptions options,
                           const std::atomic<bool>& stop)
    : state_(state), options_(options), stop_(stop), terminal_(isatty(STDERR_FILENO) != 0) {}

// The program's texts end lines with CR LF, and a reply keeps its CR before an error text.
std::string TerminalHost::Printable(const ByteString& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            out += (i + 1 < text.size() && text[i + 1] == '\n') ? "" : " ";
        else
            out += text[i];
    }
    return Cp1252ToUtf8(out);
}

void TerminalHost::Print(const char* prefix, const std::string& printable) {
    if (terminal_) std::cerr << "\r\033[K";
    std::cout << prefix << printable << std::endl;
    ShowProgress();
}

void TerminalHost::SetStatus(const ByteString& caption) {
    Print("[etat] ", Printable(caption));
}

void TerminalHost::AddLogLine(const ByteString& line) {
    if (!options_.Quiet) Print("", Printable(line));
}

// The path's own bytes: the terminal shows a folder named in any script.
void TerminalHost::AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                                  const ByteString& after) {
    if (!options_.Quiet) Print("", Printable(before) + path.string() + Printable(after));
}

void TerminalHost::SetProgressPosition(int position) {
    if (position > 0)
        stepTimes_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
    position_ = position;
    ShowProgress();
}

void TerminalHost::SetProgressMax(int maximum) {
    maximum_ = maximum;
    ShowProgress();
}

void TerminalHost::ShowProgress() {
    if (!terminal_ || position_ == 0) return;
    std::cerr << "\r[" << position_ << "/" << maximum_ << "]" << std::flush;
}

void TerminalHost::ProcessMessages() {
    SyncQueue::Application().RunPending();
}

void TerminalHost::WaitForEvent() {
    // The name panel of the window: here the name is typed on the terminal, or taken from
    // the clock when nobody can type.
    if (stop_) return;
    if (isatty(STDIN_FILENO)) {
        std::cerr << "\nNom du fichier : " << std::flush;
        // Watched in slices rather than read at once: a stop (Ctrl-C) ends the wait however
        // it falls, and the dump then takes the stop path.
        while (!stop_) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            int ready = poll(&input, 1, 100);
            if (ready < 0 && errno != EINTR) break;
            if (ready <= 0) continue;
            std::string typed;
            if (std::getline(std::cin, typed)) {
                state_.FileName = Utf8ToCp1252(typed);
                return;
            }
            break;
        }
        if (stop_) return;
    }
    state_.FileName = FormatAutoName(Now());
}

void TerminalHost::Sleep(int milliseconds) {
    sleptMs_ += milliseconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LocalTime TerminalHost::Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,       local.tm_hour,
                     local.tm_min,         local.tm_sec,     static_cast<int>(ms)};
}

void TerminalHost::ShowMessage(const ByteString& text) {
    Print("[message] ", Printable(text));
}

std::filesystem::path TerminalHost::ExecutableFolder() const {
    return WithDelimiter(ProgramFolder(BuiltLayout(), veldar::ExecutableFolder()));
}

std::filesystem::path TerminalHost::HomeFolder() const {
    const char* home = std::getenv("HOME");
    return home ? WithDelimiter(home) : std::filesystem::path();
}

void TerminalHost::OpenInAssociatedProgram(const std::filesystem::path& file) {
    // The desktop's opener; its answer is not waited for.
    std::string path = file.string();
    char opener[] = "xdg-open";
    char* argv[] = {opener, path.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, WNOHANG);
}

} // namespace veldar
