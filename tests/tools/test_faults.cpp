// VELDAR itself as a child process against the device simulator, with things going wrong
// around it: noise, a device that fails or vanishes mid-dump, folders and files that cannot
// be written, a settings file of garbage. It must neither crash nor hang, and keep records.
#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using veldar::test::Child;
using namespace std::chrono_literals;

class ProgramFaults : public ::testing::Test {
protected:
    ProgramFaults() {
        root = veldar::test::NewProgramFolder("fault");
        programFolder = root;
    }
    ~ProgramFaults() override {
        // The children go first: the folder holds their files.
        program.reset();
        device.reset();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    fs::path Records(int count) {
        fs::path file = root / "records.txt";
        std::ofstream out(file, std::ios::binary);
        for (int i = 1; i <= count; ++i) {
            payloads.push_back("MESURE " + std::to_string(i) + ";" + std::to_string(i * 7));
            out << payloads.back() << "\n";
        }
        return file;
    }

    std::string Expected(std::size_t count) const {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += payloads[i] + "\r\n";
        return text;
    }

    void StartDevice(std::vector<std::string> options, const std::string& com = "1") {
        std::vector<std::string> args = {
            VELDAR_DEVSIM, "--link-dir", programFolder.string(), "--com", com, "--timeout", "60"};
        args.insert(args.end(), options.begin(), options.end());
        device = std::make_unique<Child>(args, root / "devsim.out");
        ASSERT_TRUE(device->Started());
        ASSERT_TRUE(Poll([&] { return fs::is_symlink(programFolder / ("COM" + com)); }))
            << device->Output();
    }

    void StartProgram() {
        program = std::make_unique<Child>(
            std::vector<std::string>{(programFolder / "veldar").string()}, root / "veldar.out");
        ASSERT_TRUE(program->Started());
    }

    void WriteSettings(const fs::path& destination, const std::string& port = "COM1") {
        std::ofstream out(programFolder / "VELDAR.ini", std::ios::binary);
        out << "[PORT_COMM]\r\n"
            << port << "\r\n[CHEMIN_DESTINATION]\r\n"
            << destination.string()
            << "\r\n[VOIR_DONNEES]\r\n0\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n0\r\n";
    }

    // Waits for a condition, generously: a loaded machine is slow, not wrong.
    static bool Poll(const std::function<bool()>& condition, std::chrono::seconds limit = 30s) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    // Whether our copy of the program still runs: Child cannot tell without reaping it.
    bool ProgramRunning() const {
        std::error_code ec;
        const fs::path exe = programFolder / "veldar";
        for (const auto& e : fs::directory_iterator("/proc", ec)) {
            std::error_code ignored;
            auto target = fs::read_symlink(e.path() / "exe", ignored);
            if (!ignored && target == exe) {
                // A zombie still has its entry; its state letter says it has ended.
                std::ifstream stat(e.path() / "stat");
                std::string text((std::istreambuf_iterator<char>(stat)), {});
                auto close = text.rfind(')');
                return close == std::string::npos || close + 2 >= text.size() ||
                       text[close + 2] != 'Z';
            }
        }
        return false;
    }

    // Stops the program; it must end with status 0 well within the bound.
    void Terminate() {
        auto start = std::chrono::steady_clock::now();
        program->Signal(SIGTERM);
        EXPECT_EQ(program->Wait(10s), 0) << program->Output();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    }

    void StopDevice() {
        device->Signal(SIGTERM);
        EXPECT_NE(device->Wait(10s), -1) << device->Output();
    }

    std::vector<fs::path> TextFiles(const fs::path& dir) const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".txt" && e.path().filename() != "records.txt")
                files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    static bool IsRescueName(const fs::path& file, bool partial) {
        static const std::regex whole(R"(\d{14}(_\d+)?\.txt)");
        static const std::regex part(R"(\d{14}_partiel(_\d+)?\.txt)");
        return std::regex_match(file.filename().string(), partial ? part : whole);
    }

    // The rescue copies in a folder, of the kind wanted.
    std::vector<fs::path> Rescues(const fs::path& dir, bool partial) const {
        std::vector<fs::path> files;
        for (const auto& f : TextFiles(dir))
            if (IsRescueName(f, partial)) files.push_back(f);
        return files;
    }

    // A dump of 12 records under NAME into dest, where NAME.txt cannot take them: one rescue
    // copy must hold them all.
    void DumpTwelveRecordsAsRescue(const std::string& name) {
        WriteSettings(root / "dest");
        StartDevice({"--records", Records(12).string(), "--header", name, "--kick-every", "1"});
        StartProgram();
        EXPECT_EQ(device->Wait(30s), 0) << device->Output();
        EXPECT_TRUE(Poll([&] {
            auto files = Rescues(root / "dest", false);
            return files.size() == 1 && ReadAll(files[0]) == Expected(12);
        })) << program->Output();
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

    // Where the program runs from, with its settings and the COMn link.
    void MoveProgramTo(const fs::path& folder) {
        fs::create_directories(folder);
        fs::copy_file(root / "veldar", folder / "veldar");
        programFolder = folder;
    }

    fs::path root;
    // The settings file written at the quit names this folder, its own bytes.
    void ExpectStoredDestination(const std::string& folder) {
        const std::string settings = ReadAll(programFolder / "VELDAR.ini");
        EXPECT_NE(settings.find("[CHEMIN_DESTINATION]\r\n" + folder + "\r\n"), std::string::npos)
            << settings;
    }

    fs::path programFolder;
    std::vector<std::string> payloads;
    std::unique_ptr<Child> device;
    std::unique_ptr<Child> program;
};

TEST_F(ProgramFaults, NoiseAroundTwoDumpsLosesNoRecord) {
    // Stray bytes, NUL and line ends among them, before, between and after the dumps.
    StartDevice({"--records", Records(20).string(), "--header", "NOISY", "--kick-every", "2",
                 "--dumps", "2", "--noise", "300:00FF0D0A7E", "--noise", "2600:0D0A000D", "--noise",
                 "2700:3F3F41", "--noise", "4600:FE0D"});
    StartProgram();
    EXPECT_EQ(device->Wait(30s), 0) << device->Output();
    // The second dump of the same name is appended to the first.
    const std::string twice = Expected(20) + Expected(20);
    EXPECT_TRUE(Poll([&] { return ReadAll(root / "NOISY.txt") == twice; }))
        << ReadAll(root / "NOISY.txt") << program->Output();
    Terminate();
    EXPECT_EQ(TextFiles(root), std::vector<fs::path>{root / "NOISY.txt"});
}

TEST_F(ProgramFaults, ElevenRefusalsAbortTheDumpWithNothingSaved) {
    // The fifth record never arrives whole: the program refuses it until it gives up.
    StartDevice({"--records", Records(10).string(), "--header", "REFUS", "--kick-every", "1",
                 "--bad-checksum-always", "5"});
    StartProgram();
    ASSERT_TRUE(Poll([&] { return Count(device->Output(), "NAK\\r") >= 11; })) << device->Output();
    // The device goes away at once, so that no later dump can accept records again.
    StopDevice();
    EXPECT_EQ(Count(device->Output(), "NAK\\r"), 11) << device->Output();
    // Nothing to wait for: the absence of a file only shows after a while.
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(TextFiles(root).empty()) << program->Output();
    EXPECT_TRUE(ProgramRunning()) << program->Output();
    Terminate();
    EXPECT_TRUE(TextFiles(root).empty()) << program->Output();
}

TEST_F(ProgramFaults, AHangUpMidDumpLeavesThePartialRescueCopy) {
    StartDevice({"--records", Records(40).string(), "--header", "HUP", "--kick-every", "1",
                 "--hang-up-after", "12"});
    StartProgram();
    // Twelve went out, the header first: eleven records were accepted.
    std::vector<fs::path> files;
    EXPECT_TRUE(Poll([&] {
        files = Rescues(root, true);
        return files.size() == 1 && ReadAll(files[0]) == Expected(11);
    })) << program->Output()
        << device->Output();
    EXPECT_NE(device->Wait(10s), -1);
    EXPECT_TRUE(ProgramRunning()) << program->Output();
    Terminate();
    EXPECT_EQ(TextFiles(root), files);
}

// The adapter is pulled mid-dump and plugged back 1.5 s later: the accepted records are in
// the rescue copy, and the next dump is saved without anybody touching the program.
TEST_F(ProgramFaults, AnAdapterPulledMidDumpIsReopenedWhenItComesBack) {
    StartDevice({"--records", Records(30).string(), "--header", "BACK", "--kick-every", "1",
                 "--unplug-after", "12", "--back-after", "1500", "--dumps", "1"});
    StartProgram();
    std::vector<fs::path> rescues;
    EXPECT_TRUE(Poll([&] {
        rescues = Rescues(root, true);
        return rescues.size() == 1 && ReadAll(rescues[0]) == Expected(11);
    })) << program->Output()
        << device->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(root / "BACK.txt") == Expected(30); }))
        << program->Output() << device->Output();
    EXPECT_EQ(device->Wait(10s), 0) << device->Output();
    EXPECT_TRUE(ProgramRunning()) << program->Output();
    Terminate();
}

// Started before the adapter is plugged in: the open failure's box does not keep the port
// from being opened once it appears, and the dump needs no click.
TEST_F(ProgramFaults, AProgramStartedWithoutItsPortDumpsOnceThePortAppears) {
    // A port no machine has of its own (COM1 may be a built-in UART here).
    WriteSettings(root, "COM77");
    StartProgram();
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(ProgramRunning()) << program->Output();
    StartDevice({"--records", Records(10).string(), "--header", "LATE", "--kick-every", "1"}, "77");
    EXPECT_EQ(device->Wait(30s), 0) << device->Output() << program->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(root / "LATE.txt") == Expected(10); }))
        << program->Output();
    Terminate();
}

TEST_F(ProgramFaults, AMissingDestinationFolderSendsTheCaptureBesideTheProgram) {
    WriteSettings(root / "gone");
    StartDevice({"--records", Records(15).string(), "--header", "ORPHAN", "--kick-every", "1"});
    StartProgram();
    EXPECT_EQ(device->Wait(30s), 0) << device->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(root / "ORPHAN.txt") == Expected(15); }))
        << program->Output();
    Terminate();
    EXPECT_FALSE(fs::exists(root / "gone" / "ORPHAN.txt"));
    EXPECT_EQ(TextFiles(root), std::vector<fs::path>{root / "ORPHAN.txt"});
}

TEST_F(ProgramFaults, AFolderInPlaceOfTheCaptureLeavesTheRescueCopy) {
    fs::create_directories(root / "dest" / "BLOCKED.txt");
    DumpTwelveRecordsAsRescue("BLOCKED");
    // It goes on, telling of the failure in a box that waits for the user.
    EXPECT_TRUE(ProgramRunning()) << program->Output();
    Terminate();
    EXPECT_TRUE(fs::is_directory(root / "dest" / "BLOCKED.txt"));
    EXPECT_TRUE(fs::is_empty(root / "dest" / "BLOCKED.txt"));
    EXPECT_EQ(TextFiles(root / "dest").size(), 2u); // the folder's name ends in .txt too
}

TEST_F(ProgramFaults, AFullDiskLeavesTheRescueCopy) {
    fs::create_directories(root / "dest");
    fs::create_symlink("/dev/full", root / "dest" / "FULL.txt");
    DumpTwelveRecordsAsRescue("FULL");
    EXPECT_TRUE(ProgramRunning()) << program->Output();
    Terminate();
    EXPECT_TRUE(fs::is_symlink(root / "dest" / "FULL.txt"));
    EXPECT_EQ(TextFiles(root / "dest").size(), 2u);
}

TEST_F(ProgramFaults, AReadOnlyCaptureFileIsLeftUntouched) {
    fs::create_directories(root / "dest");
    { std::ofstream(root / "dest" / "RO.txt", std::ios::binary) << "earlier\r\n"; }
    // No write permission at all: root could write it, the program must not.
    fs::permissions(root / "dest" / "RO.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    DumpTwelveRecordsAsRescue("RO");
    Terminate();
    EXPECT_EQ(ReadAll(root / "dest" / "RO.txt"), "earlier\r\n");
}

TEST_F(ProgramFaults, ASettingsFileOfRandomBytesIsReplacedByAGoodOne) {
    std::mt19937 random(20240607);
    std::string garbage(4096, '\0');
    for (auto& c : garbage)
        c = static_cast<char>(random() & 0xFF);
    // Sure to hold the bytes that matter to a line reader.
    garbage.replace(0, 1, 1, '\0');
    garbage.replace(100, 4, "\r\n\0\n", 4);
    garbage.replace(2000, 3, "\r\r\n");
    {
        std::ofstream out(programFolder / "VELDAR.ini", std::ios::binary);
        out << garbage;
    }
    StartDevice({"--records", Records(8).string(), "--header", "RANDOM", "--kick-every", "1"});
    StartProgram();
    EXPECT_EQ(device->Wait(30s), 0) << device->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(root / "RANDOM.txt") == Expected(8); }))
        << program->Output();
    Terminate();
    std::string settings = ReadAll(root / "VELDAR.ini");
    // The folder line is the program's own folder or empty, nothing of the garbage.
    auto format = [](const std::string& folder) {
        return "[PORT_COMM]\r\nCOM1\r\n[CHEMIN_DESTINATION]\r\n" + folder +
               "\r\n[VOIR_DONNEES]\r\n0\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n0\r\n";
    };
    EXPECT_TRUE(settings == format("") || settings == format(root.string()) ||
                settings == format(root.string() + "/"))
        << settings;
}

TEST_F(ProgramFaults, SettingsThatCannotBeWrittenStillLetTheProgramQuit) {
    fs::create_directories(root / "VELDAR.ini");
    fs::create_directories(root / "VELDAR.ini.tmp");
    StartDevice({});
    StartProgram();
    // The program is up once it probes the device.
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << device->Output();
    Terminate();
    EXPECT_NE(program->Output().find("Impossible d'écrire dans le fichier de paramètres"),
              std::string::npos)
        << program->Output();
    EXPECT_TRUE(fs::is_directory(root / "VELDAR.ini"));
    EXPECT_TRUE(TextFiles(root).empty());
}

TEST_F(ProgramFaults, QuitDuringTheProbeOfASilentDeviceCapturesNothing) {
    StartDevice({"--silent", "--records", Records(5).string(), "--header", "MUTE"});
    StartProgram();
    ASSERT_TRUE(device->WaitForOutput("rx @9600")) << device->Output();
    Terminate();
    EXPECT_TRUE(TextFiles(root).empty()) << program->Output();
}

TEST_F(ProgramFaults, QuitWhileTheRequestIsUnansweredCapturesNothing) {
    // Probes are echoed but the request is acknowledged far too late.
    StartDevice({"--records", Records(5).string(), "--header", "SLOW", "--kick-every", "1",
                 "--ack-delay", "60000"});
    StartProgram();
    ASSERT_TRUE(device->WaitForOutput("LOAD")) << device->Output();
    Terminate();
    EXPECT_TRUE(TextFiles(root).empty()) << program->Output();
}

// --- deaths of the program itself ---

// The program's replies the simulator has read: one per ACK of a record, the header's and the
// end marker's included.
int AcknowledgementsSeen(const std::string& deviceOutput) {
    int seen = 0;
    std::istringstream lines(deviceOutput);
    for (std::string line; std::getline(lines, line);)
        if (line.find("] rx @") != std::string::npos)
            for (auto at = line.find("ACK\\r"); at != std::string::npos;
                 at = line.find("ACK\\r", at + 1))
                ++seen;
    return seen;
}

// SIGKILL at moments spread over unpaced dumps of 100 records: while requesting, among the
// records, while the name is awaited, while saving. The next start saves every record the
// simulator saw acknowledged, and at most the one whose ACK was on its way, in order, byte for
// byte; nothing else is lost and no journal is left.
TEST_F(ProgramFaults, EveryAcknowledgedRecordSurvivesAKillAtAnyMoment) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const fs::path records = Records(100);
    enum class Moment { Requests, Records, NameWait, Saving };
    const std::vector<Moment> moments = {
        Moment::Requests, Moment::Records, Moment::Records, Moment::NameWait, Moment::Records,
        Moment::Saving,   Moment::Records, Moment::Records, Moment::Records,  Moment::Records};
    // What the previous round left: the records the simulator saw acknowledged, its capture.
    int acknowledged = -1;
    fs::path capture;
    auto dest = [&](std::size_t round) { return root / ("dest" + std::to_string(round)); };

    for (std::size_t round = 0; round <= moments.size(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fs::create_directories(dest(round));
        WriteSettings(dest(round));
        const bool last = round == moments.size();
        const Moment moment = last ? Moment::Requests : moments[round];
        const bool header = moment != Moment::NameWait;
        const std::string name = "KILL" + std::to_string(round);
        // The last start only saves what the round before left, a silent device before it.
        std::vector<std::string> options = {"--silent"};
        if (!last) options = {"--records", records.string(), "--kick-every", "1", "--no-pacing"};
        if (!last && header) options.insert(options.end(), {"--header", name});
        StartDevice(options);
        StartProgram();
        // The journal is saved before the port opens: the device hears the program after.
        ASSERT_TRUE(device->WaitForOutput("] rx @")) << program->Output();
        if (last) Terminate();

        if (acknowledged >= 0) {
            const auto copies = Rescues(dest(round), true);
            const bool saved = fs::exists(capture);
            if (saved) {
                EXPECT_EQ(ReadAll(capture), Expected(100));
            }
            EXPECT_LE(copies.size(), 1u);
            if (!saved && acknowledged > 0) {
                EXPECT_EQ(copies.size(), 1u) << program->Output();
            }
            if (!copies.empty()) {
                const std::string text = ReadAll(copies[0]);
                const auto upTo = static_cast<std::size_t>(std::min(acknowledged + 1, 100));
                EXPECT_TRUE(text == Expected(static_cast<std::size_t>(acknowledged)) ||
                            text == Expected(upTo))
                    << acknowledged << " acknowledged, recovered:\n"
                    << text;
            }
        }
        if (last) break;

        // The moment: after the k-th acknowledgement, the header's counted.
        const int offset = header ? 1 : 0;
        std::function<bool(const std::string&)> due;
        switch (moment) {
        case Moment::Requests:
            due = [](const std::string& out) {
                return out.find("LOAD\\r") != std::string::npos ||
                       out.find("READ\\r") != std::string::npos;
            };
            break;
        case Moment::Records: {
            const int k = std::uniform_int_distribution<int>(1, 100)(random) + offset;
            due = [k](const std::string& out) { return AcknowledgementsSeen(out) >= k; };
            break;
        }
        case Moment::NameWait:
        case Moment::Saving:
            // The end marker's acknowledgement: the name is asked for, or the file written.
            due = [offset](const std::string& out) {
                return AcknowledgementsSeen(out) >= 101 + offset;
            };
            break;
        }
        ASSERT_TRUE(Poll([&] { return due(device->Output()); })) << device->Output();
        if (moment == Moment::NameWait) std::this_thread::sleep_for(200ms);
        program->Signal(SIGKILL);
        EXPECT_EQ(program->Wait(10s), 128 + SIGKILL);
        // What the program sent before it died is in the line already: the simulator reads
        // it within a millisecond, given half a second.
        std::this_thread::sleep_for(500ms);
        StopDevice();
        ASSERT_TRUE(Poll([&] {
            std::error_code ec;
            return !fs::exists(fs::symlink_status(programFolder / "COM1", ec));
        }));
        acknowledged = std::clamp(AcknowledgementsSeen(device->Output()) - offset, 0, 100);
        capture = dest(round) / (name + ".txt");
    }
    std::vector<fs::path> journals;
    for (const auto& e : fs::directory_iterator(programFolder))
        if (e.path().extension() == ".journal") journals.push_back(e.path());
    EXPECT_TRUE(journals.empty()) << journals.front();
}

// --- folders named outside Windows-1252 ---

TEST_F(ProgramFaults, AProgramInACyrillicFolderSavesToAChineseOneAndKeepsItInTheSettings) {
    setenv("HOME", (root / "home").c_str(), 1);
    fs::create_directories(root / "home");
    MoveProgramTo(root / u8"данные");
    const fs::path dest = root / u8"数据";
    fs::create_directories(dest);
    WriteSettings(dest);
    StartDevice({"--records", Records(6).string(), "--header", "SCRIPT", "--kick-every", "1"});
    StartProgram();
    EXPECT_EQ(device->Wait(30s), 0) << device->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(dest / "SCRIPT.txt") == Expected(6); }))
        << program->Output();
    Terminate();
    // Written back as read: the folder's own bytes.
    ExpectStoredDestination(dest.string());
    EXPECT_TRUE(fs::is_empty(root / "home"));
}

TEST_F(ProgramFaults, AProgramInAChineseFolderSavesBesideItselfAndStoresThatFolder) {
    setenv("HOME", (root / "home").c_str(), 1);
    fs::create_directories(root / "home");
    MoveProgramTo(root / u8"数据");
    StartDevice({"--records", Records(6).string(), "--header", "BESIDE", "--kick-every", "1"});
    StartProgram();
    EXPECT_EQ(device->Wait(30s), 0) << device->Output();
    EXPECT_TRUE(Poll([&] { return ReadAll(programFolder / "BESIDE.txt") == Expected(6); }))
        << program->Output();
    Terminate();
    ExpectStoredDestination(programFolder.string() + "/");
    EXPECT_TRUE(fs::is_empty(root / "home"));
}

} // namespace
