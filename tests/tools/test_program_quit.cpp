// VELDAR itself as a child process, beside a COM1 link to the device simulator, stopped by
// SIGTERM at the awkward moments: it must end with status 0 within the bound, with the
// settings written and the records of an interrupted dump saved.
#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

namespace fs = std::filesystem;
using veldar::test::Child;
using namespace std::chrono_literals;

class ProgramQuit : public ::testing::Test {
protected:
    ProgramQuit() { root = veldar::test::NewProgramFolder("quit"); }
    ~ProgramQuit() override { fs::remove_all(root); }

    fs::path Records(int count) {
        fs::path file = root / "records.txt";
        std::ofstream out(file);
        for (int i = 1; i <= count; ++i) {
            payloads.push_back("MESURE " + std::to_string(i));
            out << payloads.back() << "\n";
        }
        return file;
    }

    std::unique_ptr<Child> Device(std::vector<std::string> options) {
        std::vector<std::string> args = {VELDAR_DEVSIM, "--link-dir", root.string(), "--com",
                                         "1",           "--timeout",  "60"};
        args.insert(args.end(), options.begin(), options.end());
        auto child = std::make_unique<Child>(args, root / "devsim.out");
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::is_symlink(root / "COM1") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return child;
    }

    std::unique_ptr<Child> Program() {
        return std::make_unique<Child>(std::vector<std::string>{(root / "veldar").string()},
                                       root / "veldar.out");
    }

    // Stops the program and checks it ends well within the bound.
    void Terminate(Child& program) {
        auto start = std::chrono::steady_clock::now();
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(10s), 0) << program.Output();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_TRUE(fs::exists(root / "VELDAR.ini"));
    }

    std::vector<fs::path> Captures() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(root))
            if (e.path().extension() == ".txt" && e.path().filename() != "records.txt")
                files.push_back(e.path());
        return files;
    }

    static std::string ReadAll(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    // Ten records acknowledged (beside the request's and the header's): the dump is well
    // under way.
    static void WaitUntilWellUnderWay(Child& device) {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (Count(device.Output(), "ACK\\r") < 12 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
    }

    fs::path root;
    std::vector<std::string> payloads;
};

TEST_F(ProgramQuit, DuringTheStartUpWakeUpNothingIsCaptured) {
    auto device = Device({"--silent"});
    auto program = Program();
    ASSERT_TRUE(device->WaitForOutput("rx @9600"));
    Terminate(*program);
    EXPECT_TRUE(Captures().empty());
    EXPECT_NE(ReadAll(root / "VELDAR.ini").find("[PORT_COMM]\r\nCOM1\r\n"), std::string::npos);
}

TEST_F(ProgramQuit, DuringTheRecordLoopTheAcceptedRecordsAreSaved) {
    auto device =
        Device({"--records", Records(2000).string(), "--header", "LONG", "--kick-every", "1"});
    auto program = Program();
    WaitUntilWellUnderWay(*device);
    Terminate(*program);
    auto files = Captures();
    ASSERT_EQ(files.size(), 1u) << program->Output();
    EXPECT_NE(files[0].filename().string().find("_partiel"), std::string::npos);
    std::string saved = ReadAll(files[0]);
    auto lines = static_cast<std::size_t>(std::count(saved.begin(), saved.end(), '\n'));
    ASSERT_GE(lines, 10u);
    std::string expected;
    for (std::size_t i = 0; i < lines; ++i)
        expected += payloads[i] + "\r\n";
    EXPECT_EQ(saved, expected);
}

TEST_F(ProgramQuit, DuringTheNameWaitTheCaptureIsSaved) {
    // No header and no automatic name: the program waits for a typed name.
    auto device = Device({"--records", Records(5).string(), "--kick-every", "1"});
    auto program = Program();
    ASSERT_TRUE(device->WaitForOutput("completed 1"));
    Terminate(*program);
    auto files = Captures();
    ASSERT_EQ(files.size(), 1u) << program->Output();
    EXPECT_EQ(ReadAll(files[0]), "MESURE 1\r\nMESURE 2\r\nMESURE 3\r\nMESURE 4\r\nMESURE 5\r\n");
}

TEST_F(ProgramQuit, WhileTheStartUpMessageBoxIsOpen) {
    // COM1 leads nowhere: the start-up says so in a box, which the quit closes.
    fs::create_symlink(root / "nothing", root / "COM1");
    auto program = Program();
    std::this_thread::sleep_for(1500ms);
    Terminate(*program);
}

// Whether the process has its own handler for the signal. Before its main() runs (the system
// still loading its libraries) nothing can catch one: the test never sends that early.
bool Catches(pid_t pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

TEST_F(ProgramQuit, RightAfterLaunchEndsCleanlyAndLeavesNoLock) {
    auto device = Device({"--silent"});
    for (auto delay : {10ms, 15ms, 20ms, 25ms}) {
        auto program = Program();
        std::this_thread::sleep_for(delay);
        auto deadline = std::chrono::steady_clock::now() + 5s;
        // Whichever comes first: the handler must be there before the lock.
        while (!Catches(program->Pid(), SIGTERM) && !fs::exists(root / "VELDAR.lock") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(100us);
        program->Signal(SIGTERM);
        EXPECT_EQ(program->Wait(10s), 0) << delay.count() << " ms: " << program->Output();
        EXPECT_FALSE(fs::exists(fs::symlink_status(root / "VELDAR.lock"))) << delay.count();
    }
}

// 4000 quit signals, SIGTERM and SIGHUP in turn, in about half a second.
void Storm(Child& program) {
    for (int i = 0; i < 4000; ++i) {
        program.Signal(i % 2 ? SIGHUP : SIGTERM);
        if (i % 8 == 7) std::this_thread::sleep_for(1ms);
    }
}

TEST_F(ProgramQuit, AStormOfSignalsAsADumpStartsEndsTheProgram) {
    // The device's echoes come too late: the search for its speed that starts the dump goes
    // on for a while, with no byte to read.
    auto device = Device({"--records", Records(100).string(), "--header", "STORM", "--kick-every",
                          "1", "--probe-echo-delay", "150"});
    auto program = Program();
    ASSERT_TRUE(device->WaitForOutput("tx (kick)")) << device->Output();
    Storm(*program);
    EXPECT_EQ(program->Wait(30s), 0) << program->Output();
    EXPECT_TRUE(fs::exists(root / "VELDAR.ini"));
}

TEST_F(ProgramQuit, AStormOfSignalsDuringTheRecordsKeepsEveryAcknowledgedOne) {
    auto device =
        Device({"--records", Records(3000).string(), "--header", "STORM", "--kick-every", "1"});
    auto program = Program();
    WaitUntilWellUnderWay(*device);
    Storm(*program);
    EXPECT_EQ(program->Wait(30s), 0) << program->Output();
    device->Signal(SIGTERM);
    device->Wait(10s);

    // The device's count of acknowledged records includes the header's.
    std::smatch acks;
    const std::string summary = device->Output();
    ASSERT_TRUE(std::regex_search(summary, acks, std::regex("record replies: ACK (\\d+)")))
        << summary;
    const auto acknowledged = std::stoul(acks[1]) - 1;
    auto files = Captures();
    ASSERT_EQ(files.size(), 1u) << program->Output();
    std::string saved = ReadAll(files[0]);
    auto lines = static_cast<std::size_t>(std::count(saved.begin(), saved.end(), '\n'));
    EXPECT_GE(lines, acknowledged);
    std::string expected;
    for (std::size_t i = 0; i < lines && i < payloads.size(); ++i)
        expected += payloads[i] + "\r\n";
    EXPECT_EQ(saved, expected);
}

} // namespace
