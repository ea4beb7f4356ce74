// veldar-devsim as a program: run as a child process with its COMn link in a fresh folder,
// the test plays the program's side through the serial port object on the pseudo-terminal.
#include "com_error.h"
#include "com_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace veldar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto Patience = 10s;

// veldar-devsim as a child process; its output (standard output and error) is gathered
// whenever the test waits on it.
class DevsimProcess {
public:
    explicit DevsimProcess(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        out_ = fds[0];
        std::vector<std::string> all = {VELDAR_DEVSIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        int e = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (e != 0) throw std::runtime_error("cannot start " + all[0]);
    }

    ~DevsimProcess() {
        if (!status_) {
            kill(pid_, SIGTERM);
            if (!WaitForExit()) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        close(out_);
    }

    void Signal(int signal) { kill(pid_, signal); }

    // True once the output holds text (10 s at most).
    bool WaitForOutput(const std::string& text) {
        auto deadline = Clock::now() + Patience;
        while (output_.find(text) == std::string::npos) {
            if (Clock::now() > deadline || !Gather(50))
                return output_.find(text) != std::string::npos;
        }
        return true;
    }

    // The exit status once the program has exited (10 s at most); none when it is still
    // running or was killed.
    std::optional<int> WaitForExit() {
        auto deadline = Clock::now() + Patience;
        while (!status_ && Clock::now() < deadline) {
            Gather(50);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        }
        if (!status_) return std::nullopt;
        while (Gather(0)) {
        }
        if (!WIFEXITED(*status_)) return std::nullopt;
        return WEXITSTATUS(*status_);
    }

    const std::string& Output() const { return output_; }

private:
    // Reads what the program wrote within timeoutMs; false at the end of its output.
    bool Gather(int timeoutMs) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return true;
        char buffer[4096];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
        return n > 0 || (n < 0 && errno == EINTR);
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    std::optional<int> status_;
};

// The program's end of the line.
class ProgramSide {
public:
    ProgramSide(const fs::path& linkFolder, TBaudRate rate)
        : port_(CreatePlatformDevice(linkFolder.string())) {
        port_.SetPort("COM1");
        port_.SetBaudRate(rate);
        port_.SetEvents(TComEvents{});
        port_.SetConnected(true);
    }

    TComPort& Port() { return port_; }
    void Send(const ByteString& text) { port_.SendText(text); }

    // What came up to the first end byte, included; empty when none came within 10 s.
    ByteString Until(char end) {
        auto deadline = Clock::now() + Patience;
        std::size_t at;
        while ((at = buffer_.find(end)) == ByteString::npos) {
            if (Clock::now() > deadline) return {};
            Take();
        }
        ByteString part = buffer_.substr(0, at + 1);
        buffer_.erase(0, at + 1);
        return part;
    }

    // Everything that comes within the time given.
    ByteString For(std::chrono::milliseconds time) {
        auto end = Clock::now() + time;
        while (Clock::now() < end)
            Take();
        return std::exchange(buffer_, ByteString());
    }

private:
    void Take() {
        ByteString chunk;
        if (port_.ReceiveText(chunk, 4096) > 0)
            buffer_ += chunk;
        else
            std::this_thread::sleep_for(5ms);
    }

    TComPort port_;
    ByteString buffer_;
};

char CheckByte(unsigned value) {
    value &= 0xFF;
    return static_cast<char>(value == 13 ? 14 : value);
}

// Whether a record (counting byte, payload, L, H, CR) carries the right check bytes: with a
// header, L is the count k of counting and payload bytes and H their sum S divided by k;
// without, L = S % 256 and H = S / 256.
bool ChecksumHolds(const ByteString& record, bool averageRule) {
    if (record.size() < 4 || record.back() != '\r') return false;
    std::size_t k = record.size() - 3;
    unsigned sum = 0;
    for (std::size_t i = 0; i < k; ++i)
        sum += static_cast<unsigned char>(record[i]);
    char low = averageRule ? CheckByte(static_cast<unsigned>(k)) : CheckByte(sum % 256);
    char high = averageRule ? CheckByte(sum / static_cast<unsigned>(k)) : CheckByte(sum / 256);
    return record[k] == low && record[k + 1] == high;
}

struct DumpResult {
    std::vector<ByteString> accepted;
    int naks = 0;
};

// The program's side of one dump: request, records answered ACK (NAK when the check bytes
// are wrong), "OVER\r" answered ACK.
void RunDump(ProgramSide& side, bool averageRule, DumpResult& result) {
    side.Send("LOAD\r");
    ASSERT_EQ(side.Until('\r'), "ACK\r");
    while (true) {
        ByteString record = side.Until('\r');
        ASSERT_FALSE(record.empty()) << "no record or OVER within 10 s";
        if (record == "OVER\r") {
            side.Send("ACK\r");
            return;
        }
        ASSERT_GE(record.size(), 4u) << record;
        char counting = static_cast<char>('0' + result.accepted.size() % 10);
        ASSERT_EQ(record[0], counting) << record;
        if (ChecksumHolds(record, averageRule)) {
            result.accepted.push_back(record.substr(1, record.size() - 4));
            side.Send("ACK\r");
        } else {
            ++result.naks;
            side.Send("NAK\r");
        }
        ASSERT_LT(result.naks, 10) << "NAK after NAK";
    }
}

class DevsimProgram : public ::testing::Test {
protected:
    DevsimProgram() {
        folder = fs::temp_directory_path() /
                 ("veldar-devsim-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder);
    }

    ~DevsimProgram() override {
        side.reset();
        devsim.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    // Starts the simulator with its link in the folder and waits for the line.
    bool Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--link-dir", folder.string()});
        devsim = std::make_unique<DevsimProcess>(args);
        return devsim->WaitForOutput("slave: /dev/") &&
               fs::is_symlink(fs::symlink_status(folder / "COM1"));
    }

    ProgramSide& Open(TBaudRate rate) {
        side = std::make_unique<ProgramSide>(folder, rate);
        return *side;
    }

    fs::path folder;
    std::unique_ptr<DevsimProcess> devsim;
    std::unique_ptr<ProgramSide> side;
    static inline int counter = 0;
};

TEST_F(DevsimProgram, HelpNamesEveryOption) {
    DevsimProcess help({"--help"});
    EXPECT_EQ(help.WaitForExit(), 0);
    for (const char* option : {"--link-dir",
                               "--com",
                               "--device",
                               "--no-pacing",
                               "--adapter-latency",
                               "--adapter-packet",
                               "--adapter-event-char",
                               "--records",
                               "--generate",
                               "--length",
                               "--header",
                               "--header-count",
                               "--baud",
                               "--needs-wakeup",
                               "--bad-checksum",
                               "--bad-checksum-always",
                               "--missing-cr",
                               "--split",
                               "--split-gap",
                               "--split-ack",
                               "--ack-delay",
                               "--probe-echo-delay",
                               "--noise",
                               "--silent",
                               "--hang-up-after",
                               "--unplug-after",
                               "--back-after",
                               "--kick",
                               "--kick-delay",
                               "--kick-every",
                               "--dumps",
                               "--timeout",
                               "--quiet",
                               "--help"})
        EXPECT_NE(help.Output().find(std::string("  ") + option + " "), std::string::npos)
            << option;
}

TEST_F(DevsimProgram, BadUsageEndsWithStatusTwo) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--frobnicate"},
                                               {"--baud", "fast"},
                                               {"--bad-checksum", "1,,2"},
                                               {"--noise", "100:0F4"},
                                               {"--generate", "3", "--records", "x.txt"},
                                               {"--com", "2"},
                                               {"--back-after", "100"},
                                               {"--adapter-event-char"},
                                               {"--records", (folder / "missing.txt").string()},
                                               {"--timeout"}}) {
        DevsimProcess bad(args);
        EXPECT_EQ(bad.WaitForExit(), 2) << args[0];
        EXPECT_NE(bad.Output().find("veldar-devsim: "), std::string::npos) << args[0];
    }
}

TEST_F(DevsimProgram, EchoesTheProbeOnlyAtTheDeviceSpeed) {
    ASSERT_TRUE(Start({"--baud", "38400"}));
    ProgramSide& program = Open(br9600);
    program.Send("\x0F");
    ASSERT_TRUE(devsim->WaitForOutput("rx @9600: \\x0F"));
    EXPECT_EQ(program.For(300ms), "");

    program.Port().SetBaudRate(br38400);
    program.Send("\x0F");
    EXPECT_EQ(program.Until('\x0F'), "\x0F");
    EXPECT_TRUE(devsim->WaitForOutput("rx @38400: \\x0F"));
}

TEST_F(DevsimProgram, ReadsASpeedWithoutTermiosConstant) {
    ASSERT_TRUE(Start({"--baud", "250000"}));
    ProgramSide& program = Open(brCustom);
    program.Port().SetCustomBaudRate(250000);
    program.Send("\x0F");
    EXPECT_EQ(program.Until('\x0F'), "\x0F");
    EXPECT_TRUE(devsim->WaitForOutput("rx @250000: \\x0F"));
}

TEST_F(DevsimProgram, AnswersRequestsAt115200AfterAWakeUpAtItsSpeed) {
    ASSERT_TRUE(Start({"--baud", "9600", "--needs-wakeup", "--generate", "1"}));
    ProgramSide& program = Open(br9600);
    for (const char* byte : {"\x07", "6", "Q"}) {
        program.Send(byte);
        // The speed is read as the bytes arrive: no switch before the device has them.
        ASSERT_TRUE(
            devsim->WaitForOutput(std::string("rx @9600: ") + (byte[0] == 7 ? "\\x07" : byte)));
    }
    program.Port().SetBaudRate(br115200);
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(program, false, dump));
    EXPECT_EQ(dump.accepted, std::vector<ByteString>{"REC000001 ABCDEF"});
    EXPECT_EQ(devsim->WaitForExit(), 0);
    EXPECT_NE(devsim->Output().find("speed 115200 (awake)"), std::string::npos);
}

TEST_F(DevsimProgram, ShortDumpWithAHeaderEndsWithStatusZero) {
    ASSERT_TRUE(Start({"--generate", "3", "--header", "TEST"}));
    ProgramSide& program = Open(br115200);
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(program, true, dump));
    EXPECT_EQ(dump.accepted, (std::vector<ByteString>{"#;TEST;3", "REC000001 ABCDEF",
                                                      "REC000002 ABCDEF", "REC000003 ABCDEF"}));
    EXPECT_EQ(dump.naks, 0);
    EXPECT_EQ(devsim->WaitForExit(), 0);
    EXPECT_NE(devsim->Output().find("dumps completed 1\n"), std::string::npos);
    EXPECT_NE(devsim->Output().find("requests 1 (answered 1)"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "COM1"))) << "link left behind";
}

TEST_F(DevsimProgram, RunsUntilTheDumpsAsked) {
    ASSERT_TRUE(Start({"--generate", "1", "--dumps", "2"}));
    ProgramSide& program = Open(br115200);
    for (int i = 0; i < 2; ++i) {
        // The second dump is answered only by a simulator still running.
        DumpResult dump;
        ASSERT_NO_FATAL_FAILURE(RunDump(program, false, dump));
        EXPECT_EQ(dump.accepted, std::vector<ByteString>{"REC000001 ABCDEF"});
    }
    EXPECT_EQ(devsim->WaitForExit(), 0);
    EXPECT_NE(devsim->Output().find("dumps completed 2\n"), std::string::npos);
}

TEST_F(DevsimProgram, APortClosedAndOpenedAgainStartsAfresh) {
    ASSERT_TRUE(Start({"--generate", "1"}));
    Open(br115200).Send("\x0F");
    ASSERT_TRUE(devsim->WaitForOutput("tx: \\x0F"));
    // The echo is left unread: gone at the next opening, as on a serial port; the device is
    // still there.
    side.reset();
    ASSERT_TRUE(devsim->WaitForOutput("closed: the terminal side"));
    ProgramSide& program = Open(br115200);
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(program, false, dump));
    EXPECT_EQ(devsim->WaitForExit(), 0);
}

TEST_F(DevsimProgram, RecordsFromAFileWithAFaultyChecksumOnce) {
    {
        std::ofstream records(folder / "records.txt", std::ios::binary);
        records << "abc\r\n12;34\nx\n";
    }
    ASSERT_TRUE(Start({"--records", (folder / "records.txt").string(), "--bad-checksum", "1",
                       "--header-count", "9", "--header", "F"}));
    ProgramSide& program = Open(br115200);
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(program, true, dump));
    EXPECT_EQ(dump.accepted, (std::vector<ByteString>{"#;F;9", "abc", "12;34", "x"}));
    EXPECT_EQ(dump.naks, 1);
    EXPECT_EQ(devsim->WaitForExit(), 0);
    EXPECT_NE(devsim->Output().find("ACK 4, NAK 1"), std::string::npos);
}

TEST_F(DevsimProgram, RunsOnASerialDeviceToo) {
    // A pseudo-terminal of the test's own stands for the serial device; the test plays the
    // program on its master, where no speed can be set: the device takes bytes as sent at
    // its own speed.
    struct Pty {
        int master = -1, terminal = -1;
        ~Pty() {
            for (int fd : {master, terminal})
                if (fd >= 0) close(fd);
        }
    } pty;
    char name[256] = {};
    ASSERT_EQ(openpty(&pty.master, &pty.terminal, name, nullptr, nullptr), 0);
    const int master = pty.master;
    devsim = std::make_unique<DevsimProcess>(
        std::vector<std::string>{"--device", name, "--generate", "1", "--baud", "19200"});
    ASSERT_TRUE(devsim->WaitForOutput(std::string("device: ") + name + "\n"));
    ASSERT_EQ(write(master, "LOAD\r", 5), 5);
    ASSERT_TRUE(devsim->WaitForOutput("rx @19200: LOAD\\r"));
    // The acknowledgement, the one record (answered ACK), then OVER.
    ByteString got;
    bool answered = false;
    auto deadline = Clock::now() + Patience;
    while (got.find("OVER\r") == ByteString::npos && Clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        char buffer[256];
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
        if (!answered && std::count(got.begin(), got.end(), '\r') == 2) {
            ASSERT_EQ(write(master, "ACK\r", 4), 4);
            answered = true;
        }
    }
    ASSERT_EQ(got, "ACK\r0REC000001 ABCDEF\xE0\x03\rOVER\r");
    ASSERT_EQ(write(master, "ACK\r", 4), 4);
    EXPECT_EQ(devsim->WaitForExit(), 0);
}

TEST_F(DevsimProgram, AMissingDeviceIsAnError) {
    DevsimProcess missing({"--device", (folder / "ttyNone").string()});
    EXPECT_EQ(missing.WaitForExit(), 1);
    EXPECT_NE(missing.Output().find("ttyNone"), std::string::npos);
}

TEST_F(DevsimProgram, SilentDeviceNeverAcknowledgesAndTimesOut) {
    ASSERT_TRUE(Start({"--silent", "--timeout", "2"}));
    ProgramSide& program = Open(br115200);
    program.Send("LOAD\r");
    ASSERT_TRUE(devsim->WaitForOutput("rx @115200: LOAD\\r"));
    EXPECT_EQ(program.For(500ms), "");
    EXPECT_EQ(devsim->WaitForExit(), 1);
    EXPECT_NE(devsim->Output().find("timed out"), std::string::npos);
}

TEST_F(DevsimProgram, PacedAndUnpacedDumpsCarryTheSameRecords) {
    std::vector<ByteString> got[2];
    for (bool paced : {true, false}) {
        std::vector<std::string> args = {"--generate", "50", "--length", "40", "--quiet"};
        if (!paced) args.push_back("--no-pacing");
        ASSERT_TRUE(Start(args));
        ProgramSide& program = Open(br115200);
        DumpResult dump;
        ASSERT_NO_FATAL_FAILURE(RunDump(program, false, dump));
        EXPECT_EQ(dump.naks, 0);
        EXPECT_EQ(devsim->WaitForExit(), 0) << (paced ? "paced" : "unpaced");
        got[paced] = dump.accepted;
        side.reset();
    }
    ASSERT_EQ(got[true].size(), 50u);
    EXPECT_EQ(got[true][49], "REC000050 ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");
    EXPECT_EQ(got[true], got[false]);
}

TEST_F(DevsimProgram, HangsUpAfterTheRecordsGivenAndFails) {
    ASSERT_TRUE(Start({"--generate", "5", "--hang-up-after", "2"}));
    ProgramSide& program = Open(br115200);
    program.Send("LOAD\r");
    ASSERT_EQ(program.Until('\r'), "ACK\r");
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ChecksumHolds(program.Until('\r'), false));
        program.Send("ACK\r");
    }
    bool hungUp = false;
    auto deadline = Clock::now() + Patience;
    while (!hungUp && Clock::now() < deadline) {
        try {
            EXPECT_EQ(program.For(50ms), "") << "a record after the hang-up point";
        } catch (const EComPort&) {
            hungUp = true;
        }
    }
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(devsim->WaitForExit(), 1);
    EXPECT_NE(devsim->Output().find("hung up"), std::string::npos);
}

// The simulator's own time of an event it logged ("[    1.234] what: ..."), in ms.
std::optional<std::int64_t> LoggedAtMs(const std::string& output, const std::string& what) {
    std::size_t at = output.find("] " + what + ":");
    std::size_t open = output.rfind('[', at);
    if (at == std::string::npos || open == std::string::npos) return std::nullopt;
    return std::llround(std::stod(output.substr(open + 1, at - open - 1)) * 1000);
}

TEST_F(DevsimProgram, UnpluggedAfterTheRecordsGivenComesBackOnAnotherTerminal) {
    ASSERT_TRUE(Start({"--generate", "3", "--unplug-after", "1", "--back-after", "1000"}));
    const fs::path link = folder / "COM1";
    const fs::path first = fs::read_symlink(link);
    ProgramSide& program = Open(br115200);
    program.Send("LOAD\r");
    ASSERT_EQ(program.Until('\r'), "ACK\r");
    ASSERT_TRUE(ChecksumHolds(program.Until('\r'), false));
    program.Send("ACK\r");
    ASSERT_TRUE(devsim->WaitForOutput("unplugged: "));
    // Told once the link is gone; the return is a second away.
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    side.reset();

    ASSERT_TRUE(devsim->WaitForOutput("back: /dev/"));
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_NE(fs::read_symlink(link), first);
    auto unplugged = LoggedAtMs(devsim->Output(), "unplugged");
    auto back = LoggedAtMs(devsim->Output(), "back");
    ASSERT_TRUE(unplugged && back) << devsim->Output();
    EXPECT_GE(*back - *unplugged, 1000);

    // The whole dump again, and it counts: the one dump asked ends the run.
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(Open(br115200), false, dump));
    EXPECT_EQ(dump.accepted.size(), 3u);
    EXPECT_EQ(devsim->WaitForExit(), 0);
    EXPECT_NE(devsim->Output().find("dumps completed 1\n"), std::string::npos);
}

TEST_F(DevsimProgram, UnpluggedAtOnceWithNoRecordGivenThenServesWithoutHangingUpAgain) {
    devsim = std::make_unique<DevsimProcess>(
        std::vector<std::string>{"--link-dir", folder.string(), "--generate", "2",
                                 "--hang-up-after", "0", "--back-after", "200"});
    ASSERT_TRUE(devsim->WaitForOutput("back: /dev/"));
    EXPECT_LT(devsim->Output().find("unplugged: "), devsim->Output().find("back: "));
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(Open(br115200), false, dump));
    EXPECT_EQ(dump.accepted.size(), 2u);
    EXPECT_EQ(devsim->WaitForExit(), 0);
}

TEST_F(DevsimProgram, AdapterHoldsTheDevicesBytesUntilItsLatencyOrACr) {
    ASSERT_TRUE(Start({"--generate", "1", "--adapter-latency", "400"}));
    ProgramSide& program = Open(br115200);
    auto sent = Clock::now();
    program.Send("LOAD\r");
    EXPECT_EQ(program.Until('\r'), "ACK\r");
    EXPECT_GE(Clock::now() - sent, 400ms) << "the acknowledgement went before the latency";
    side.reset();
    devsim.reset();

    // Each line would wait 5 s for the latency: only the CR lets them through in time.
    ASSERT_TRUE(Start({"--generate", "3", "--adapter-latency", "5000", "--adapter-event-char"}));
    auto start = Clock::now();
    DumpResult dump;
    ASSERT_NO_FATAL_FAILURE(RunDump(Open(br115200), false, dump));
    EXPECT_EQ(dump.accepted.size(), 3u);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(devsim->WaitForExit(), 0);
}

TEST_F(DevsimProgram, KicksWithAQuestionMarkAgainAndAgain) {
    ASSERT_TRUE(Start({"--kick-delay", "100", "--kick-every", "0.2"}));
    ProgramSide& program = Open(br115200);
    EXPECT_EQ(program.Until('?'), "?");
    EXPECT_EQ(program.Until('?'), "?");
}

TEST_F(DevsimProgram, PutsNoiseOnTheLineAtItsTime) {
    ASSERT_TRUE(Start({"--noise", "100:41420D", "--noise", "150:ff"}));
    EXPECT_TRUE(devsim->WaitForOutput("tx: AB\\r"));
    // Both may go out at once when the simulator is slow to wake.
    EXPECT_TRUE(devsim->WaitForOutput("\\xFF"));
}

TEST_F(DevsimProgram, SigtermEndsWithSummaryAndNoLink) {
    ASSERT_TRUE(Start({}));
    devsim->Signal(SIGTERM);
    EXPECT_EQ(devsim->WaitForExit(), 1);
    EXPECT_NE(devsim->Output().find("dumps completed 0"), std::string::npos);
    EXPECT_NE(devsim->Output().find("interrupted"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "COM1")));
}

} // namespace
} // namespace veldar
