// Item 13 of the desktop issue: one VELDAR per folder. The real program is started twice
// beside one COM1 link to the device simulator; the later start ends at once with status 0
// and leaves the port and the settings file to the first. A lock left by a killed program
// does not stop the next start.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using veldar::test::Child;
using namespace std::chrono_literals;

class Item13_OneVeldarPerFolder : public ::testing::Test {
protected:
    Item13_OneVeldarPerFolder() {
        root = veldar::test::NewProgramFolder("once");
        // Written with line feeds only: a file the program wrote has CR LF.
        std::ofstream(root / "VELDAR.ini") << UserSettings;
    }
    ~Item13_OneVeldarPerFolder() override { fs::remove_all(root); }

    // A silent device: the program opens the port and probes it, which the simulator logs.
    std::unique_ptr<Child> Device(const std::string& log) {
        fs::remove(root / "COM1");
        auto child = std::make_unique<Child>(
            std::vector<std::string>{VELDAR_DEVSIM, "--link-dir", root.string(), "--com", "1",
                                     "--timeout", "60", "--silent"},
            root / log);
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::is_symlink(root / "COM1") && std::chrono::steady_clock::now() < deadline)
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

} // namespace
