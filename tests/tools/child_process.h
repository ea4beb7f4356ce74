// A program under test as a child process, its output in a file.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace veldar::test {

using namespace std::chrono_literals;

// A child process with its output in a file.
class Child {
public:
    // Standard input is `input` (a terminal, for instance), /dev/null by default.
    Child(const std::vector<std::string>& args, const std::filesystem::path& output,
          const std::filesystem::path& input = "/dev/null")
        : output_(output) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDWR, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The exit status, or -1 when the process did not end in time (it is killed then).
    int Wait(std::chrono::seconds limit = 60s) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!status_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                status_ = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return *status_;
    }

    void Signal(int sig) { kill(pid_, sig); }
    pid_t Pid() const { return pid_; }
    bool Started() const { return pid_ > 0; }
    std::string Output() const {
        std::ifstream in(output_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Waits until the output holds the text (30 s at most).
    bool WaitForOutput(const std::string& text) const {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (Output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path output_;
};

#ifdef VELDAR_PROGRAM
// A fresh folder holding a copy of the program, as a user unpacks it: the program looks for
// its settings and COMn links beside itself. Drawn off screen.
inline std::filesystem::path NewProgramFolder(const std::string& tag) {
    static int counter = 0;
    auto root =
        std::filesystem::temp_directory_path() /
        ("veldar-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root);
    std::filesystem::copy_file(VELDAR_PROGRAM, root / "veldar");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return root;
}
#endif

} // namespace veldar::test
