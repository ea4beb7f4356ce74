// The settings file: its exact bytes, how it is read, and how it is replaced on disk.
#include "settings_file.h"

#include "program_texts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace veldar {
namespace {

namespace fs = std::filesystem;

const ByteString NoOption =
    "[PORT_COMM]\r\nCOM12\r\n[CHEMIN_DESTINATION]\r\n\r\n[VOIR_DONNEES]\r\n0"
    "\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n0\r\n";

// A file holding the port line (after its marker) and nothing else.
Settings WithPort(const ByteString& value) {
    return ParseSettings("[PORT_COMM]\r\n" + value + "\r\n");
}

bool Ticks(const ByteString& value) {
    return ParseSettings("[VOIR_DONNEES]\r\n" + value + "\r\n").Choices.ViewFile;
}

// --- the text ---

TEST(SettingsText, TenLinesEachEndedByCrLf) {
    EXPECT_EQ(FormatSettings("COM12", {}), NoOption);
    EXPECT_EQ(
        FormatSettings("COM3", {.OverwriteFile = true, .ViewFile = true, .DestPath = "C:\\Data\\"}),
        "[PORT_COMM]\r\nCOM3\r\n[CHEMIN_DESTINATION]\r\nC:\\Data\\\r\n[VOIR_DONNEES]\r\n-1"
        "\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n-1\r\n");
}

TEST(SettingsText, WhatIsWrittenReadsBack) {
    Settings read = ParseSettings(FormatSettings("COM12", {.AutoFileName = true,
                                                           .OverwriteFile = true,
                                                           .ViewFile = true,
                                                           .DestPath = "C:\\Relev\xE9s"}),
                                  Settings{});
    EXPECT_EQ(read.Port, 12);
    EXPECT_EQ(read.Choices.DestPath, "C:\\Relev\xE9s");
    EXPECT_TRUE(read.Choices.ViewFile);
    EXPECT_TRUE(read.Choices.AutoFileName);
    EXPECT_TRUE(read.Choices.OverwriteFile);

    read = ParseSettings(FormatSettings("COM5", {.AutoFileName = true, .DestPath = "D:\\"}));
    EXPECT_EQ(read.Port, 5);
    EXPECT_EQ(read.Choices.DestPath, "D:\\");
    EXPECT_FALSE(read.Choices.ViewFile);
    EXPECT_TRUE(read.Choices.AutoFileName);
    EXPECT_FALSE(read.Choices.OverwriteFile);
}

TEST(SettingsText, ThePortIsTheNumberAfterThreeCharacters) {
    EXPECT_EQ(WithPort("COM0").Port, 0);
    EXPECT_EQ(WithPort("COM7").Port, 7);
    EXPECT_EQ(WithPort("XYZ300").Port, 300);
    EXPECT_EQ(WithPort("COM 7").Port, 7);
    EXPECT_EQ(WithPort("COM$1F").Port, 31);
    EXPECT_EQ(WithPort("COM0x10").Port, 16);
    EXPECT_EQ(WithPort("COM-2").Port, -2);
}

TEST(SettingsText, APortThatReadsAsNoNumberIsOne) {
    EXPECT_EQ(WithPort("12").Port, 1);
    EXPECT_EQ(WithPort("COM").Port, 1);
    EXPECT_EQ(WithPort("COMx").Port, 1);
    EXPECT_EQ(WithPort("COM7 ").Port, 1);
    EXPECT_EQ(WithPort("COM99999999999").Port, 1);
    EXPECT_EQ(WithPort("").Port, 1);
}

TEST(SettingsText, ThePortStartsAtOneAndTheRestFromWhatIsCurrent) {
    Settings current;
    current.Port = 9;
    current.Choices.DestPath = "C:\\Avant";
    current.Choices.AutoFileName = true;
    Settings read = ParseSettings("", current);
    EXPECT_EQ(read.Port, 1);
    EXPECT_EQ(read.Choices.DestPath, "C:\\Avant");
    EXPECT_TRUE(read.Choices.AutoFileName);
    EXPECT_FALSE(read.Choices.ViewFile);

    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\r\n\r\n", current).Choices.DestPath, "");
}

TEST(SettingsText, NumbersOtherThanZeroAndTheWordTrueTick) {
    for (const char* value : {"-1", "1", "2", "$10", "True", "tRuE", "TRUE", "true"})
        EXPECT_TRUE(Ticks(value)) << value;
    for (const char* value : {"0", "False", "oui", "", " True", "True ", "Truth", "-0"})
        EXPECT_FALSE(Ticks(value)) << value;
}

TEST(SettingsText, EachOptionHasItsMarker) {
    Settings read = ParseSettings("[NOM_FIC_AUTO]\r\n-1\r\n");
    EXPECT_TRUE(read.Choices.AutoFileName);
    EXPECT_FALSE(read.Choices.ViewFile);
    EXPECT_FALSE(read.Choices.OverwriteFile);
    read = ParseSettings("[ECRASER_FICHIER]\r\nTrue\r\n");
    EXPECT_TRUE(read.Choices.OverwriteFile);
    EXPECT_FALSE(read.Choices.ViewFile);
    EXPECT_FALSE(read.Choices.AutoFileName);
}

TEST(SettingsText, ReadingNeverUnticks) {
    Settings current;
    current.Choices.ViewFile = true;
    current.Choices.AutoFileName = true;
    current.Choices.OverwriteFile = true;
    Settings read = ParseSettings(NoOption, current);
    EXPECT_TRUE(read.Choices.ViewFile);
    EXPECT_TRUE(read.Choices.AutoFileName);
    EXPECT_TRUE(read.Choices.OverwriteFile);
}

TEST(SettingsText, LineFeedsAloneReadTheSame) {
    ByteString lf = "[PORT_COMM]\nCOM4\n[CHEMIN_DESTINATION]\nC:\\Relev\xE9s\n[VOIR_DONNEES]\n-1\n"
                    "[NOM_FIC_AUTO]\n0\n[ECRASER_FICHIER]\n-1\n";
    ByteString crlf = FormatSettings(
        "COM4", {.OverwriteFile = true, .ViewFile = true, .DestPath = "C:\\Relev\xE9s"});
    Settings a = ParseSettings(lf);
    Settings b = ParseSettings(crlf);
    EXPECT_EQ(a.Port, 4);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.Choices.DestPath, b.Choices.DestPath);
    EXPECT_EQ(a.Choices.DestPath, "C:\\Relev\xE9s");
    EXPECT_EQ(a.Choices.ViewFile, b.Choices.ViewFile);
    EXPECT_EQ(a.Choices.AutoFileName, b.Choices.AutoFileName);
    EXPECT_EQ(a.Choices.OverwriteFile, b.Choices.OverwriteFile);
}

TEST(SettingsText, OnlyOneCarriageReturnIsDroppedAndOthersStay) {
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\r\nC:\\A\r\r\n").Choices.DestPath, "C:\\A\r");
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\r\nC:\\A\rB\n").Choices.DestPath, "C:\\A\rB");
}

TEST(SettingsText, ALastLineWithoutLineFeedCounts) {
    EXPECT_EQ(ParseSettings("[PORT_COMM]\r\nCOM6").Port, 6);
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\nC:\\Fin").Choices.DestPath, "C:\\Fin");
}

TEST(SettingsText, AMarkerInsideOtherTextCounts) {
    EXPECT_EQ(ParseSettings("xx[PORT_COMM]yy\r\nCOM8\r\n").Port, 8);
    EXPECT_TRUE(ParseSettings("; [ECRASER_FICHIER] ;\r\n1\r\n").Choices.OverwriteFile);
    // Case matters.
    EXPECT_EQ(ParseSettings("[port_comm]\r\nCOM8\r\n").Port, 1);
}

TEST(SettingsText, AMarkerOnTheLastLineHasAnEmptyValue) {
    Settings current;
    current.Choices.DestPath = "C:\\Avant";
    EXPECT_EQ(ParseSettings("[PORT_COMM]\r\nCOM8\r\n[PORT_COMM]").Port, 1);
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]", current).Choices.DestPath, "");
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\r\n", current).Choices.DestPath, "");
    EXPECT_FALSE(ParseSettings("[VOIR_DONNEES]").Choices.ViewFile);
}

TEST(SettingsText, TheLastPortAndFolderWinAndOneTrueIsEnough) {
    Settings read = ParseSettings("[PORT_COMM]\r\nCOM2\r\n[CHEMIN_DESTINATION]\r\nC:\\Un\r\n"
                                  "[VOIR_DONNEES]\r\n-1\r\n[PORT_COMM]\r\nCOM3\r\n"
                                  "[CHEMIN_DESTINATION]\r\nC:\\Deux\r\n[VOIR_DONNEES]\r\n0\r\n");
    EXPECT_EQ(read.Port, 3);
    EXPECT_EQ(read.Choices.DestPath, "C:\\Deux");
    EXPECT_TRUE(read.Choices.ViewFile);

    EXPECT_EQ(ParseSettings("[PORT_COMM]\r\nCOM2\r\n[PORT_COMM]\r\nnul\r\n").Port, 1);
}

TEST(SettingsText, AValueLineIsNotTestedForMarkers) {
    // The folder's value is the port marker: it is taken as the folder and the port line
    // after it is skipped as a line without marker.
    Settings read = ParseSettings("[CHEMIN_DESTINATION]\r\n[PORT_COMM]\r\nCOM5\r\n");
    EXPECT_EQ(read.Choices.DestPath, "[PORT_COMM]");
    EXPECT_EQ(read.Port, 1);

    read = ParseSettings("[VOIR_DONNEES]\r\n[ECRASER_FICHIER]\r\n-1\r\n");
    EXPECT_FALSE(read.Choices.ViewFile);
    EXPECT_FALSE(read.Choices.OverwriteFile);
}

TEST(SettingsText, TheFirstMarkerOfTheListWinsOnALineHoldingTwo) {
    Settings read = ParseSettings("[ECRASER_FICHIER][PORT_COMM]\r\nCOM4\r\n");
    EXPECT_EQ(read.Port, 4);
    EXPECT_FALSE(read.Choices.OverwriteFile);

    read = ParseSettings("[VOIR_DONNEES] [CHEMIN_DESTINATION]\r\n-1\r\n");
    EXPECT_EQ(read.Choices.DestPath, "-1");
    EXPECT_FALSE(read.Choices.ViewFile);
}

TEST(SettingsText, LinesWithoutMarkerAreSkipped) {
    Settings read = ParseSettings("bonjour\r\n\r\nCOM9\r\n[ECRASER_FICHIER]\r\n-1\r\nfin\r\n");
    EXPECT_EQ(read.Port, 1);
    EXPECT_TRUE(read.Choices.OverwriteFile);
}

TEST(SettingsText, AnyBytesReadWithoutHarm) {
    for (const ByteString& bytes :
         {ByteString{}, ByteString("\r"), ByteString("\n"), ByteString("\r\n\r\n"),
          ByteString("[PORT_COMM]\r"), ByteString("[PORT_COMM]\n\r"), ByteString("\0\0\n", 3),
          ByteString("[PORT_COMM]\nCO"), ByteString(1 << 20, '['), ByteString(100000, '\n')}) {
        Settings read = ParseSettings(bytes);
        EXPECT_EQ(read.Port, 1);
        EXPECT_EQ(read.Choices.DestPath, "");
        EXPECT_FALSE(read.Choices.ViewFile || read.Choices.AutoFileName ||
                     read.Choices.OverwriteFile);
    }
    ByteString longFolder(1 << 20, 'x');
    EXPECT_EQ(ParseSettings("[CHEMIN_DESTINATION]\n" + longFolder).Choices.DestPath, longFolder);
    EXPECT_EQ(ParseSettings(ByteString("[CHEMIN_DESTINATION]\nA\0B\r\n", 25)).Choices.DestPath,
              ByteString("A\0B", 3));
}

// --- the file ---

class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest() {
        root = fs::temp_directory_path() /
               ("veldar-settings-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root);
        ini = root / "VELDAR.ini";
    }
    ~SettingsFileTest() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    static void Put(const fs::path& file, const ByteString& bytes) {
        std::ofstream out(file, std::ios::binary);
        out << bytes;
    }
    static ByteString Get(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Nothing but the settings file (and what the test put there) in the folder.
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(root), {}));
    }

    static inline int counter = 0;
    fs::path root;
    fs::path ini;
};

TEST_F(SettingsFileTest, ANewFileIsCreated) {
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), NoOption);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SettingsFileTest, AnExistingFileIsReplacedWhole) {
    Put(ini, ByteString(5000, 'z'));
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), NoOption);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SettingsFileTest, AStaleTemporaryFileIsOverwritten) {
    Put(root / "VELDAR.ini.tmp", "ancien contenu plus long que le nouveau, bien plus long\r\n");
    EXPECT_EQ(WriteSettingsFile(ini, "abc"), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), "abc");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SettingsFileTest, TheReplacedFileKeepsItsPermissions) {
    Put(ini, "ancien");
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(WriteSettingsFile(ini, "nouveau"), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), "nouveau");
#ifndef _WIN32
    EXPECT_EQ(fs::status(ini).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(SettingsFileTest, AFolderWhereTheFileShouldBeFailsAndLosesNothing) {
    fs::create_directory(ini);
    Put(ini / "inside", "gard\xE9");
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_TRUE(fs::is_directory(ini));
    EXPECT_EQ(Get(ini / "inside"), "gard\xE9");
    // The temporary file did not stay.
    EXPECT_EQ(Entries(), 1u);

    // Neither a new file nor the file itself can be written.
    fs::create_directory(root / "VELDAR.ini.tmp");
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_TRUE(fs::is_directory(ini));
    EXPECT_TRUE(fs::is_directory(root / "VELDAR.ini.tmp"));
    EXPECT_EQ(Get(ini / "inside"), "gard\xE9");
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(SettingsFileTest, WhenNoNewFileCanBeMadeTheFileIsRewrittenInPlace) {
    fs::create_directory(root / "VELDAR.ini.tmp");
    Put(ini, ByteString(5000, 'z'));
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), NoOption);
    EXPECT_TRUE(fs::is_directory(root / "VELDAR.ini.tmp"));
}

TEST_F(SettingsFileTest, WhenNoNewFileCanBeMadeAMissingFileIsNotCreated) {
    fs::create_directory(root / "VELDAR.ini.tmp");
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_FALSE(fs::exists(ini));
}

TEST_F(SettingsFileTest, AReadOnlyFileIsLeftAlone) {
    Put(ini, "garde");
    fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_EQ(Get(ini), "garde");
    EXPECT_EQ(Entries(), 1u);
    // Windows removes no read-only file.
    fs::permissions(ini, fs::perms::owner_all);
}

#ifndef _WIN32
TEST_F(SettingsFileTest, ALinkIsKeptAndTheFileItPointsToReplaced) {
    fs::create_directory(root / "real");
    Put(root / "real" / "VELDAR.ini", "ancien");
    fs::create_symlink(root / "real" / "VELDAR.ini", ini);
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(Get(root / "real" / "VELDAR.ini"), NoOption);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "real"), {}), 1);
}

TEST_F(SettingsFileTest, AFullDiskFails) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const fs::perms mode = fs::status("/dev/full").permissions();
    fs::create_symlink("/dev/full", ini);
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(fs::read_symlink(ini), "/dev/full");
    // The device itself is untouched.
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(fs::status("/dev/full").permissions(), mode);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SettingsFileTest, ATemporaryFileThatCannotBeWrittenIsRemovedAndTheOldFileKept) {
    Put(ini, "garde");
    // A file size limit stops the writing after a few bytes, for root too.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 16;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    SettingsWrite result = WriteSettingsFile(ini, NoOption);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, SettingsWrite::Failed);
    EXPECT_EQ(Get(ini), "garde");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SettingsFileTest, ALinkLeftUnderTheTemporaryNameIsNotWrittenThrough) {
    Put(root / "other.txt", "intact");
    fs::permissions(root / "other.txt", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(root / "other.txt", root / "VELDAR.ini.tmp");
    Put(ini, "ancien");
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), NoOption);
    EXPECT_FALSE(fs::is_symlink(ini));
    EXPECT_EQ(Get(root / "other.txt"), "intact");
    EXPECT_EQ(fs::status(root / "other.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Entries(), 2u);
}
#endif

TEST_F(SettingsFileTest, ReadingGivesTheBytesOrNothingWithoutFile) {
    EXPECT_EQ(ReadSettingsFile(ini), std::nullopt);
    Put(ini, ByteString("[PORT_COMM]\r\nCOM1\r\n\xE9\0", 21));
    EXPECT_EQ(ReadSettingsFile(ini), ByteString("[PORT_COMM]\r\nCOM1\r\n\xE9\0", 21));
    Put(ini, "");
    EXPECT_EQ(ReadSettingsFile(ini), ByteString());
    EXPECT_EQ(ReadSettingsFile(root / "absent" / "VELDAR.ini"), std::nullopt);
}

TEST_F(SettingsFileTest, AFolderOfThatNameIsNoFile) {
    fs::create_directory(ini);
    EXPECT_EQ(ReadSettingsFile(ini), std::nullopt);
}

TEST_F(SettingsFileTest, AnUnreadableFileIsKeptAsideNeverOverAnEarlierOne) {
    const ByteString first(MaxSettingsFileSize + 1, 'a');
    const ByteString second(MaxSettingsFileSize + 1, 'b');
    Put(ini, first);
    ASSERT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    Put(ini, second);
    ASSERT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Written);
    EXPECT_EQ(Get(ini), NoOption);
    EXPECT_EQ(Get(root / "VELDAR.ini.illisible"), first);
    EXPECT_EQ(Get(root / "VELDAR.ini.illisible2"), second);
    EXPECT_EQ(Entries(), 3u);
}

TEST_F(SettingsFileTest, WhatIsWrittenIsReadBack) {
    ByteString text = FormatSettings(
        "COM12", {.OverwriteFile = true, .ViewFile = true, .DestPath = "C:\\Relev\xE9s"});
    ASSERT_EQ(WriteSettingsFile(ini, text), SettingsWrite::Written);
    EXPECT_EQ(ReadSettingsFile(ini), text);
}

#ifndef _WIN32
TEST_F(SettingsFileTest, AFileThatCannotBeReadThrows) {
    // Two links pointing at each other: there is an entry, but no file behind it.
    fs::create_symlink(root / "other.ini", ini);
    fs::create_symlink(ini, root / "other.ini");
    try {
        ReadSettingsFile(ini);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), texts::SettingsUnreadable);
    }

    // The process's own memory: its first page is never mapped, so reading fails.
    if (fs::exists("/proc/self/mem")) {
        EXPECT_THROW(ReadSettingsFile("/proc/self/mem"), std::runtime_error);
    }
}
#endif

#ifdef _WIN32
TEST(SettingsText, AFolderInAnyScriptRoundTripsAndAnAnsiOneStaysAnsi) {
    if (GetACP() != 1252) GTEST_SKIP() << "the checks below are for the Western code page";
    // As every earlier file has it.
    EXPECT_NE(FormatSettings("COM1", {.DestPath = fs::path(L"C:\\Relev\u00e9s")})
                  .find("\r\nC:\\Relev\xE9s\r\n"),
              ByteString::npos);
    for (const wchar_t* folder : {L"C:\\Relev\u00e9s", L"C:\\\u0434\u0430\u043d\u043d\u044b\u0435",
                                  L"C:\\\u6570\u636e", L"C:\\\u00c3\u00a9"}) {
        Settings read = ParseSettings(FormatSettings("COM1", {.DestPath = fs::path(folder)}));
        EXPECT_EQ(read.Choices.DestPath.native(), std::wstring(folder));
    }
}
#else
// Runs the call on its own thread, bounded: a call that blocks on the FIFO is released by
// opening its other end (a writer that leaves at once: the reader then meets the end), and
// counts as blocked.
template <class Call> bool BlocksOn(const fs::path& fifo, Call call) {
    auto running = std::async(std::launch::async, call);
    if (running.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return false;
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    running.wait();
    ::close(reader);
    return true;
}

TEST_F(SettingsFileTest, AFifoADeviceOrAnOversizedFileIsNeitherReadNorWritten) {
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    bool unreadable = false;
    EXPECT_FALSE(BlocksOn(ini, [&] {
        try {
            ReadSettingsFile(ini);
        } catch (const std::runtime_error&) {
            unreadable = true;
        }
    }));
    EXPECT_TRUE(unreadable);
    SettingsWrite written = SettingsWrite::Written;
    EXPECT_FALSE(BlocksOn(ini, [&] { written = WriteSettingsFile(ini, NoOption); }));
    EXPECT_EQ(written, SettingsWrite::Failed);
    EXPECT_TRUE(fs::is_fifo(ini));

    fs::remove(ini);
    fs::create_symlink("/dev/null", ini);
    EXPECT_THROW(ReadSettingsFile(ini), std::runtime_error);
    EXPECT_EQ(WriteSettingsFile(ini, NoOption), SettingsWrite::Failed);
    EXPECT_EQ(fs::read_symlink(ini), "/dev/null");

    fs::remove(ini);
    Put(ini, ByteString(MaxSettingsFileSize, '\n'));
    EXPECT_EQ(ReadSettingsFile(ini)->size(), MaxSettingsFileSize);
    Put(ini, ByteString(MaxSettingsFileSize + 1, '\n'));
    EXPECT_THROW(ReadSettingsFile(ini), std::runtime_error);
}
#endif

} // namespace
} // namespace veldar
