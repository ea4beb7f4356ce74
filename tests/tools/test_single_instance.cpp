// Item 13 of the desktop issue: one VELDAR per folder. The real program is started twice
// beside one COM1 link to the device simulator; the later start ends at once with status 0
// and leaves the port and the settings file to the first. A lock left by a killed program
// does not stop the next start.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using veldar::test::Child;
using namespace std::chrono_literals;

class OnceFolder {
protected:
    explicit OnceFolder(const std::string& tag = "once") {
        root = veldar::test::NewProgramFolder(tag);
        // Written with line feeds only: a file the program wrote has CR LF.
        std::ofstream(root / "VELDAR.ini") << UserSettings;
    }
    ~OnceFolder() { fs::remove_all(root); }

    // A silent device: the program opens the port and probes it, which the simulator logs.
    std::unique_ptr<Child> Device(const std::string& log, const std::string& com = "1") {
        fs::remove(root / ("COM" + com));
        auto child = std::make_unique<Child>(
            std::vector<std::string>{VELDAR_DEVSIM, "--link-dir", root.string(), "--com", com,
                                     "--timeout", "60", "--silent"},
            root / log);
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::is_symlink(root / ("COM" + com)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return child;
    }

    std::unique_ptr<Child> Program(const std::string& log) {
        return std::make_unique<Child>(std::vector<std::string>{(root / "veldar").string()},
                                       root / log);
    }

    std::string Settings() const {
        std::ifstream in(root / "VELDAR.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static constexpr const char* UserSettings = "[PORT_COMM]\nCOM1\n[CHEMIN_DESTINATION]\n\n";
    fs::path root;
};

class Item13_OneVeldarPerFolder : public ::testing::Test, protected OnceFolder {};

TEST_F(Item13_OneVeldarPerFolder, ASecondStartEndsAtOnceLeavingPortAndSettingsAlone) {
    auto device = Device("devsim.out");
    auto first = Program("first.out");
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << first->Output();

    auto second = Program("second.out");
    EXPECT_EQ(second->Wait(20s), 0) << second->Output();
    EXPECT_NE(second->Output().find("VELDAR est déjà lancé"), std::string::npos)
        << second->Output();
    EXPECT_EQ(Settings(), UserSettings) << "the settings are the first one's to write";

    first->Signal(SIGTERM);
    EXPECT_EQ(first->Wait(10s), 0) << first->Output();
    EXPECT_NE(Settings().find("[PORT_COMM]\r\nCOM1\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "VELDAR.lock"));
}

TEST_F(Item13_OneVeldarPerFolder, TheLockOfAKilledProgramIsTakenOver) {
    auto device = Device("devsim.out");
    auto killed = Program("killed.out");
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << killed->Output();
    killed->Signal(SIGKILL);
    killed->Wait(10s);
    device.reset();
    ASSERT_TRUE(fs::exists(root / "VELDAR.lock"));

    auto again = Device("devsim-again.out");
    auto next = Program("next.out");
    ASSERT_TRUE(again->WaitForOutput("rx @9600")) << next->Output();
    next->Signal(SIGTERM);
    EXPECT_EQ(next->Wait(10s), 0) << next->Output();
    EXPECT_NE(Settings().find("[PORT_COMM]\r\nCOM1\r\n"), std::string::npos);
}

// What a start finds in VELDAR.lock when no VELDAR runs: what it can hold is taken over at
// once, anything else is named in a box and the program starts all the same. Nothing outside
// the program's folder is written either way.
struct OddLock {
    const char* name;
    // Puts the thing in `lock`; `outside` is a folder beside the program's.
    void (*make)(const fs::path& lock, const fs::path& outside);
    bool takenOver;
};

void PrintTo(const OddLock& odd, std::ostream* out) {
    *out << odd.name;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

pid_t DeadPid() {
    Child gone({"/bin/true"}, "/dev/null");
    gone.Wait(5s);
    return gone.Pid();
}

std::string HostName() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return host;
}

const OddLock OddLocks[] = {
    // What a power cut right after start-up leaves.
    {"Empty", [](const fs::path& lock, const fs::path&) { WriteFile(lock, ""); }, true},
    {"Garbage",
     [](const fs::path& lock, const fs::path&) { WriteFile(lock, std::string("\xff\x00zz\n", 5)); },
     true},
    {"DeadProcess",
     [](const fs::path& lock, const fs::path&) {
         WriteFile(lock, std::to_string(DeadPid()) + "\n" + HostName() + "\nveldar\n");
     },
     true},
    // Process 1 lives here, but that lock was another machine's.
    {"OtherMachine",
     [](const fs::path& lock, const fs::path&) { WriteFile(lock, "1\nelsewhere\nveldar\n"); },
     true},
    {"Folder", [](const fs::path& lock, const fs::path&) { fs::create_directory(lock); }, false},
    {"Fifo", [](const fs::path& lock, const fs::path&) { mkfifo(lock.c_str(), 0644); }, false},
    {"DanglingLink",
     [](const fs::path& lock, const fs::path& outside) {
         fs::create_symlink(outside / "nothing", lock);
     },
     false},
    {"LinkToAFileElsewhere",
     [](const fs::path& lock, const fs::path& outside) {
         WriteFile(outside / "precious", "keep me\n");
         fs::create_symlink(outside / "precious", lock);
     },
     false},
};

class StartWithOddLock : public ::testing::TestWithParam<OddLock>, protected OnceFolder {
protected:
    StartWithOddLock() : outside(root.string() + "-outside") { fs::create_directory(outside); }
    ~StartWithOddLock() override { fs::remove_all(outside); }

    // Every file outside with its bytes.
    std::map<std::string, std::string> Outside() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(outside)) {
            std::ifstream in(e.path(), std::ios::binary);
            files[e.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }

    std::string Lock() const {
        std::ifstream in(root / "VELDAR.lock", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path outside;
};

TEST_P(StartWithOddLock, StartsOrExplainsAtOnceAndWritesNothingOutside) {
    const fs::path lock = root / "VELDAR.lock";
    GetParam().make(lock, outside);
    const fs::file_type kind = fs::symlink_status(lock).type();
    const auto outsideBefore = Outside();

    auto device = Device("devsim.out");
    auto program = Program("veldar.out");
    const std::string own = std::to_string(program->Pid()) + "\n";
    auto deadline = std::chrono::steady_clock::now() + 5s;
    auto settled = [&] {
        if (GetParam().takenOver) return Lock().rfind(own, 0) == 0;
        return program->Output().find("ne peut pas servir de verrou") != std::string::npos;
    };
    while (!settled() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(settled()) << program->Output() << "lock: " << Lock();
    if (!GetParam().takenOver) {
        EXPECT_NE(program->Output().find(lock.string()), std::string::npos) << program->Output();
    }
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << program->Output();

    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(10s), 0) << program->Output();
    EXPECT_NE(Settings().find("[PORT_COMM]\r\nCOM1\r\n"), std::string::npos);
    EXPECT_EQ(Outside(), outsideBefore);
    if (GetParam().takenOver) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(lock)));
    } else {
        EXPECT_EQ(fs::symlink_status(lock).type(), kind) << "left as the user made it";
    }
}

INSTANTIATE_TEST_SUITE_P(Lock, StartWithOddLock, ::testing::ValuesIn(OddLocks),
                         [](const auto& info) { return std::string(info.param.name); });

// A later start that finds a link in the request's name while the first is busy (stopped
// here): it tells the first through a file of its own, and nothing outside is touched.
class SecondStartWithOddRequest : public StartWithOddLock {};

TEST_P(SecondStartWithOddRequest, TellsTheFirstThroughAFreshFileAndEndsWithZero) {
    auto device = Device("devsim.out");
    auto first = Program("first.out");
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << first->Output();
    first->Signal(SIGSTOP);
    const fs::path request = root / "VELDAR.show";
    GetParam().make(request, outside);
    const auto outsideBefore = Outside();

    auto second = Program("second.out");
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!fs::is_regular_file(fs::symlink_status(request)) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    first->Signal(SIGCONT);
    EXPECT_EQ(second->Wait(10s), 0) << second->Output();
    EXPECT_FALSE(fs::exists(fs::symlink_status(request))) << "the first took the request";
    EXPECT_EQ(Outside(), outsideBefore);

    first->Signal(SIGTERM);
    EXPECT_EQ(first->Wait(10s), 0) << first->Output();
}

INSTANTIATE_TEST_SUITE_P(Request, SecondStartWithOddRequest,
                         ::testing::Values(OddLocks[6], OddLocks[7]),
                         [](const auto& info) { return std::string(info.param.name); });

// A program folder whose name is Latin-1, not UTF-8: the settings, the COMn links and the lock
// are those beside the executable, and no folder of a decoded name appears.
class LatinOneFolder : public ::testing::Test, protected OnceFolder {
protected:
    LatinOneFolder()
        : OnceFolder("Donn\xe9"
                     "es") {}
};

TEST_F(LatinOneFolder, SettingsReadAndWrittenBesideTheExecutable) {
    // Only the port the settings name leads to the device.
    std::ofstream(root / "VELDAR.ini") << "[PORT_COMM]\nCOM2\n";
    // The name Qt's decoding gives the folder.
    std::string decoded = root.filename().string();
    decoded.replace(decoded.find('\xe9'), 1, "\xef\xbf\xbd");
    const fs::path lossy = root.parent_path() / decoded;
    auto device = Device("devsim.out", "2");
    auto program = Program("veldar.out");
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << program->Output();
    EXPECT_TRUE(fs::is_regular_file(root / "VELDAR.lock"));

    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(10s), 0) << program->Output();
    EXPECT_NE(Settings().find("[PORT_COMM]\r\nCOM2\r\n"), std::string::npos) << Settings();
    EXPECT_FALSE(fs::exists(root / "VELDAR.lock"));
    EXPECT_FALSE(fs::exists(lossy));
}

} // namespace
