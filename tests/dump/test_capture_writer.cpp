// Saving the capture: names, folders, options, failures and the rescue copy.
#include "dump_fixture.h"

namespace veldar::test {
namespace {

using Names = std::vector<std::string>;

class CaptureTest : public DumpTest {
protected:
    CaptureTest() { state.CaptureText = "abc\r\ndef\r\n"; }
};

TEST_F(CaptureTest, TheHeaderNameIsUsedWithoutAskingUnlessTheClockNames) {
    state.FileName = "ABC";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "ABC.txt"), "abc\r\ndef\r\n");
    EXPECT_FALSE(host.Saw("panel shown"));
    EXPECT_TRUE(host.Saw("menu given"));
    EXPECT_TRUE(host.Saw("panel hidden"));

    state.FileName = "ABC";
    host.Auto = true;
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "20261207093000.txt");
    EXPECT_TRUE(fs::exists(root / "dest" / "20261207093000.txt"));
}

TEST_F(CaptureTest, ABlankNameAsksAndTheTypedNameIsTrimmed) {
    state.FileName = " \t ";
    host.OnWaitForEvent = [&] {
        if (host.WaitsForEvent == 3) state.FileName = "  mesure  ";
    };
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(host.WaitsForEvent, 3) << "the wait sleeps until an event, once per event";
    EXPECT_TRUE(host.Saw("panel shown"));
    EXPECT_TRUE(host.Saw("menu taken"));
    EXPECT_EQ(state.FileName, "mesure.txt");
    EXPECT_TRUE(fs::exists(root / "dest" / "mesure.txt"));

    state.FileName = "mesure.txt";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "mesure.txt.txt");
}

TEST_F(CaptureTest, AMissingFolderFallsBackToTheExecutablesFolder) {
    state.DestPath = (root / "gone").string();
    state.FileName = "X";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(state.DestPath, host.ExeFolder);
    EXPECT_TRUE(fs::exists(root / "exe" / "X.txt"));
    EXPECT_FALSE(fs::exists(root / "gone"));
}

TEST_F(CaptureTest, AnExistingFileIsExtendedOrReplacedByTheOption) {
    std::ofstream(root / "dest" / "F.txt", std::ios::binary) << "old\r\n";
    state.FileName = "F";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "F.txt"), "old\r\nabc\r\ndef\r\n");
    state.FileName = "F";
    host.Overwrite = true;
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "F.txt"), "abc\r\ndef\r\n");
}

TEST_F(CaptureTest, AReadOnlyFileIsLeftUntouched) {
    auto file = root / "dest" / "RO.txt";
    std::ofstream(file, std::ios::binary) << "keep";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (bool overwrite : {false, true}) {
        host.Overwrite = overwrite;
        state.FileName = "RO";
        EXPECT_FALSE(engine.SaveCapture());
        EXPECT_EQ(ReadFile(file), "keep");
    }
}

TEST_F(CaptureTest, AnEmptyCaptureIsFalseAfterTheNameSteps) {
    state.CaptureText.clear();
    state.FileName = "";
    host.OnWaitForEvent = [&] { state.FileName = "typed"; };
    EXPECT_FALSE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "typed.txt");
    EXPECT_TRUE(Files(root / "dest").empty());
}

TEST_F(CaptureTest, TheViewerOpensOnlyAfterASuccessfulWrite) {
    host.View = true;
    state.FileName = "V";
    EXPECT_TRUE(engine.SaveCapture());
    ASSERT_EQ(host.Opened.size(), 1u);
    EXPECT_EQ(host.Opened[0], root / "dest" / "V.txt");

    files.FailWrites = true;
    state.FileName = "W";
    EXPECT_FALSE(engine.SaveCapture());
    EXPECT_EQ(host.Opened.size(), 1u);
}

TEST_F(CaptureTest, ANameFromTheDeviceStaysInTheFolder) {
    const std::pair<ByteString, std::string> cases[] = {
        {"../evil", ".._evil.txt"},
        {"a/b\\c:d", "a_b_c_d.txt"},
        {"CON", "_CON.txt"},
        {"tab\there", "tab_here.txt"},
    };
    for (const auto& [given, written] : cases) {
        state.FileName = given;
        EXPECT_TRUE(engine.SaveCapture()) << given;
        EXPECT_TRUE(fs::exists(root / "dest" / written)) << written;
    }
    EXPECT_FALSE(fs::exists(root / "evil.txt"));
    // ".." is no name: the panel asks.
    state.FileName = "..";
    host.OnWaitForEvent = [&] { state.FileName = "ok"; };
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "ok.txt");
}

TEST_F(CaptureTest, AccentedNamesAndPayloadsKeepTheirLetters) {
    state.CaptureText = "mesur\xE9\r\n";
    state.FileName = "Relev\xE9";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / fs::path(u8"Relevé.txt")), "mesur\xE9\r\n");
}

// Write failures that also hold for root.
TEST_F(CaptureTest, AFolderWhereTheFileShouldBeOrAFullDiskFail) {
    fs::create_directory(root / "dest" / "D.txt");
    state.FileName = "D";
    EXPECT_FALSE(engine.SaveCapture());
    if (fs::exists("/dev/full")) {
        fs::create_symlink("/dev/full", root / "dest" / "FULL.txt");
        state.FileName = "FULL";
        host.Overwrite = true;
        EXPECT_FALSE(engine.SaveCapture());
    }
}

// --- the rescue copy, through whole dumps ---

TEST_F(DumpTest, ACompleteDumpThatCannotBeWrittenLeavesARescueCopy) {
    fs::create_directory(root / "dest" / "ABC.txt");
    Device(Payloads({"abc"}, true));
    engine.RunDump(false);
    EXPECT_EQ(host.Status, "Le fichier n'a pas pu \xEAtre cr\xE9\xE9");
    EXPECT_EQ(host.Messages.size(), 1u);
    auto names = Files(root / "dest");
    EXPECT_EQ(names, (Names{"20261207093000.txt", "ABC.txt"}));
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000.txt"), "abc\r\n");
    bool logged = false;
    for (const auto& l : host.Log)
        logged = logged || l.starts_with("Copie de secours: ");
    EXPECT_TRUE(logged);
}

TEST_F(DumpTest, TheRescueCopyNeverOverwritesAndFallsBackToOtherFolders) {
    std::ofstream(root / "dest" / "20261207093000.txt") << "earlier";
    fs::create_directory(root / "dest" / "ABC.txt");
    Device(Payloads({"abc"}, true));
    engine.RunDump(false);
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000.txt"), "earlier");
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000_2.txt"), "abc\r\n");

    // Nothing writable in the destination: the executable's folder takes it.
    files.FailWritesIn = root / "dest";
    engine.RunDump(false);
    EXPECT_FALSE(Files(root / "exe").empty());
}

TEST_F(DumpTest, AStopRequestSavesWhatWasAcceptedAndReturnsAtOnce) {
    auto config = Payloads({"one", "two", "three"}, true);
    Device(config);
    host.View = true;
    // Quit while the third record is awaited.
    host.OnTime = [&](std::int64_t now) {
        driver->Step(now);
        if (state.CaptureText == "one\r\ntwo\r\n") host.Stop = true;
    };
    engine.RunDump(false);
    EXPECT_EQ(Files(root / "dest"), Names{"20261207093000_partiel.txt"});
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000_partiel.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(engine.LastDump().End, DumpEnd::Stopped);
    EXPECT_EQ(engine.LastDump().RescueFile, root / "dest" / "20261207093000_partiel.txt");
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_TRUE(host.Opened.empty());
    EXPECT_FALSE(host.Saw("beep"));
    EXPECT_FALSE(state.Busy);
}

TEST_F(DumpTest, AStopDuringTheNameWaitSavesUnderTheAutomaticName) {
    Device(Payloads({"one"}));
    host.OnWaitForEvent = [&] { host.Stop = true; };
    engine.RunDump(false);
    EXPECT_EQ(Files(root / "dest"), Names{"20261207093000.txt"});
    EXPECT_TRUE(host.Saw("menu given"));
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(DumpTest, AStopBeforeTheAcknowledgementWritesNothing) {
    state.CaptureText = "from an earlier run\r\n";
    host.Stop = true;
    engine.RunDump(false);
    EXPECT_TRUE(Files(root / "dest").empty());
    EXPECT_TRUE(Files(root / "exe").empty());
}

TEST_F(DumpTest, AnUnpluggedAdapterMidDumpSavesAndReportsThePortError) {
    auto config = Payloads({"one", "two", "three"});
    config.hangUpAfterRecords = 2;
    Device(config);
    EXPECT_THROW(engine.RunDump(false), EComPort);
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000_partiel.txt"), "one\r\ntwo\r\n");
    EXPECT_TRUE(host.Status.starts_with("WriteFile function failed") ||
                host.Status.starts_with("ReadFile function failed"))
        << host.Status;
    EXPECT_TRUE(state.Busy) << "no trigger until the port is opened again";
    EXPECT_EQ(engine.LastDump().End, DumpEnd::PortFailed);
    EXPECT_EQ(engine.LastDump().Records, 2);
}

TEST_F(DumpTest, SaveNowFromANestedCallWritesOnceForTheRun) {
    Device(Payloads({"one", "two"}));
    bool saved = false;
    host.OnTime = [&](std::int64_t now) {
        driver->Step(now);
        if (!saved && state.CaptureText == "one\r\n") {
            saved = true;
            engine.SaveNow();
            host.Stop = true;
        }
    };
    engine.RunDump(false);
    EXPECT_EQ(Files(root / "dest"), Names{"20261207093000_partiel.txt"});
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000_partiel.txt"), "one\r\n");
    engine.SaveNow(); // no dump runs: nothing
    EXPECT_EQ(Files(root / "dest").size(), 1u);
}

} // namespace
} // namespace veldar::test
