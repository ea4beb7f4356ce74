// Whole dumps over a real pseudo-terminal: the device simulator and the headless dump
// program as separate processes, through the real serial code.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using veldar::test::Child;
using namespace std::chrono_literals;

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        root = fs::temp_directory_path() /
               ("veldar-e2e-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root / "dest");
        // Run from a folder of its own: its journals live beside it, out of other tests' way.
        fs::copy_file(VELDAR_DUMP, root / "veldar-dump");
    }
    ~EndToEnd() override { fs::remove_all(root); }

    // The payloads in a file, one a line.
    fs::path Records(int count) {
        fs::path file = root / "records.txt";
        std::ofstream out(file, std::ios::binary);
        for (int i = 1; i <= count; ++i) {
            std::string p =
                "MESURE " + std::to_string(i) + ";" + std::to_string(i * 37 % 1000) + ";OK";
            payloads.push_back(p);
            out << p << "\n";
        }
        return file;
    }

    std::string Expected(std::size_t count) const {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += payloads[i] + "\r\n";
        return text;
    }

    std::unique_ptr<Child> Device(std::vector<std::string> options) {
        std::vector<std::string> args = {VELDAR_DEVSIM,  "--link-dir", root.string(), "--com", "1",
                                         "--kick-every", "1",          "--timeout",   "60"};
        args.insert(args.end(), options.begin(), options.end());
        auto child = std::make_unique<Child>(args, root / "devsim.out");
        // The link exists once the simulator's terminal is ready.
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::is_symlink(root / "COM1") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return child;
    }

    std::unique_ptr<Child> Dump(std::vector<std::string> options = {},
                                const fs::path& input = "/dev/null") {
        std::vector<std::string> args = {(root / "veldar-dump").string(),
                                         "--link-dir",
                                         root.string(),
                                         "--port",
                                         "COM1",
                                         "--dest",
                                         (root / "dest").string(),
                                         "--wait",
                                         "30"};
        args.insert(args.end(), options.begin(), options.end());
        return std::make_unique<Child>(args, root / "dump.out", input);
    }

    static std::string ReadFile(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<fs::path> DestFiles() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(root / "dest"))
            files.push_back(e.path());
        return files;
    }

    static inline int counter = 0;
    fs::path root;
    std::vector<std::string> payloads;
};

TEST_F(EndToEnd, TwoHundredRecordsWithAHeader) {
    auto device = Device({"--records", Records(200).string(), "--header", "E2E"});
    ASSERT_TRUE(fs::is_symlink(root / "COM1"));
    auto dump = Dump();
    EXPECT_EQ(dump->Wait(), 0) << dump->Output();
    EXPECT_EQ(device->Wait(), 0) << device->Output();
    EXPECT_EQ(ReadFile(root / "dest" / "E2E.txt"), Expected(200));
    EXPECT_NE(dump->Output().find("(200 enregistrements)"), std::string::npos) << dump->Output();
}

TEST_F(EndToEnd, ChecksumFaultsAndSplitRecordsStillGiveEveryRecord) {
    auto device = Device({"--records", Records(40).string(), "--header", "FAULTS", "--bad-checksum",
                          "3,7", "--split", "5,9", "--split-gap", "60"});
    auto dump = Dump();
    EXPECT_EQ(dump->Wait(), 0) << dump->Output();
    EXPECT_EQ(device->Wait(), 0) << device->Output();
    EXPECT_EQ(ReadFile(root / "dest" / "FAULTS.txt"), Expected(40));
    EXPECT_NE(dump->Output().find("Requete: NAK"), std::string::npos);
}

TEST_F(EndToEnd, ASilentDeviceGivesNoAcknowledgement) {
    auto device = Device({"--records", Records(5).string(), "--silent"});
    auto dump = Dump({"--auto-name"});
    EXPECT_EQ(dump->Wait(), 1) << dump->Output();
    EXPECT_NE(dump->Output().find("ACK non arrivé"), std::string::npos) << dump->Output();
    EXPECT_TRUE(DestFiles().empty());
}

TEST_F(EndToEnd, AHangUpMidDumpLeavesTheRescueCopy) {
    auto device =
        Device({"--records", Records(100).string(), "--header", "HUP", "--hang-up-after", "50"});
    auto dump = Dump();
    EXPECT_NE(dump->Wait(), 0) << dump->Output();
    device->Wait();
    auto files = DestFiles();
    ASSERT_EQ(files.size(), 1u) << dump->Output();
    EXPECT_NE(files[0].filename().string().find("_partiel"), std::string::npos);
    // Every record accepted before the hang-up; the header is not a record.
    std::string saved = ReadFile(files[0]);
    EXPECT_EQ(saved, Expected(49)) << dump->Output();
}

TEST_F(EndToEnd, SigtermDuringTheRecordLoopSavesTheAcceptedRecords) {
    auto device = Device({"--records", Records(3000).string(), "--header", "TERM"});
    auto dump = Dump();
    ASSERT_TRUE(dump->WaitForOutput("(5)MESURE 5;")) << dump->Output();
    dump->Signal(SIGTERM);
    EXPECT_EQ(dump->Wait(), 1) << dump->Output();
    device->Signal(SIGTERM);
    device->Wait();
    auto files = DestFiles();
    ASSERT_EQ(files.size(), 1u) << dump->Output();
    EXPECT_NE(files[0].filename().string().find("_partiel"), std::string::npos);
    std::string saved = ReadFile(files[0]);
    ASSERT_FALSE(saved.empty());
    std::size_t lines = static_cast<std::size_t>(std::count(saved.begin(), saved.end(), '\n'));
    EXPECT_GE(lines, 5u);
    EXPECT_LT(lines, 3000u);
    EXPECT_EQ(saved, Expected(lines));
}

// Killed in mid-dump: the next run saves the records from the journal before anything else,
// even without a port.
TEST_F(EndToEnd, AKilledDumpIsSavedByTheNextRun) {
    auto device = Device({"--records", Records(300).string(), "--header", "KILLED"});
    auto dump = Dump();
    ASSERT_TRUE(dump->WaitForOutput(")MESURE 20;")) << dump->Output();
    dump->Signal(SIGKILL);
    EXPECT_EQ(dump->Wait(), 128 + SIGKILL);
    // What the program sent before it died is in the line: read within a millisecond.
    std::this_thread::sleep_for(500ms);
    device->Signal(SIGTERM);
    device->Wait();
    // The header's acknowledgement is not a record's.
    const std::string out = device->Output();
    std::size_t acknowledged = 0;
    for (auto at = out.find("rx @115200: ACK\\r"); at != std::string::npos;
         at = out.find("rx @115200: ACK\\r", at + 1))
        ++acknowledged;
    ASSERT_GE(acknowledged, 21u) << out;
    acknowledged -= 1;

    // A port that cannot open: without its link COM1 would be /dev/ttyS0.
    auto next = Dump({"--wait", "1", "--port", (root / "none").string()});
    EXPECT_EQ(next->Wait(), 3) << next->Output();
    auto files = DestFiles();
    ASSERT_EQ(files.size(), 1u) << next->Output();
    EXPECT_NE(files[0].filename().string().find("_partiel"), std::string::npos);
    const std::string saved = ReadFile(files[0]);
    EXPECT_TRUE(saved == Expected(acknowledged) || saved == Expected(acknowledged + 1))
        << acknowledged << " acknowledged, saved:\n"
        << saved;
    EXPECT_NE(next->Output().find("enregistrements récupérés"), std::string::npos)
        << next->Output();
    for (const auto& e : fs::directory_iterator(root))
        EXPECT_NE(e.path().extension(), ".journal") << e.path();
}

// --- veldar-dump's own end ---

TEST_F(EndToEnd, AKickDuringTheFinalPauseStartsNoSecondRun) {
    // The device asks again 300 ms after the dump, inside the 1500 ms pause that ends it,
    // and would answer a second request.
    auto device = Device({"--records", Records(30).string(), "--header", "PAUSE", "--kick-every",
                          "0.1", "--dumps", "2"});
    auto dump = Dump();
    EXPECT_EQ(dump->Wait(), 0) << dump->Output();
    device->Signal(SIGTERM);
    device->Wait();
    EXPECT_EQ(ReadFile(root / "dest" / "PAUSE.txt"), Expected(30)) << dump->Output();
    EXPECT_NE(device->Output().find("requests 1 "), std::string::npos) << device->Output();
}

TEST_F(EndToEnd, CtrlCAtTheNamePromptTakesTheStopPath) {
    // A terminal to type on: without a header the name is asked there.
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    auto device = Device({"--records", Records(4).string()});
    auto dump = Dump({}, ptsname(terminal));
    ASSERT_TRUE(dump->WaitForOutput("Nom du fichier")) << dump->Output();
    dump->Signal(SIGINT);
    EXPECT_EQ(dump->Wait(), 1) << dump->Output();
    close(terminal);
    // Saved as a stop saves: a copy of its own under the clock's name, told as such.
    EXPECT_NE(dump->Output().find("Copie de secours"), std::string::npos) << dump->Output();
    auto files = DestFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFile(files[0]), Expected(4));
    device->Signal(SIGTERM);
    device->Wait();
}

} // namespace
