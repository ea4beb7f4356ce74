// Saving the capture: names, folders, options, failures and the rescue copy.
#include "dump_fixture.h"

#include <future>
#ifndef _WIN32
#include "small_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#endif

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
    host.Choices.AutoFileName = true;
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "20261207093000.txt");
    EXPECT_TRUE(fs::exists(root / "dest" / "20261207093000.txt"));
}

TEST_F(CaptureTest, ABlankNameAsksAndTheTypedNameIsTrimmed) {
    state.FileName = " \t ";
    host.OnWaitForEvent = [&] {
        if (host.WaitsForEvent == 3) engine.NameConfirmed("  mesure  ");
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
    host.Choices.DestPath = (root / "gone").string();
    state.FileName = "X";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(host.Choices.DestPath, host.ExeFolder);
    EXPECT_TRUE(fs::exists(root / "exe" / "X.txt"));
    EXPECT_FALSE(fs::exists(root / "gone"));
}

TEST_F(CaptureTest, AnExistingFileIsExtendedOrReplacedByTheOption) {
    std::ofstream(root / "dest" / "F.txt", std::ios::binary) << "old\r\n";
    state.FileName = "F";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "F.txt"), "old\r\nabc\r\ndef\r\n");
    state.FileName = "F";
    host.Choices.OverwriteFile = true;
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "F.txt"), "abc\r\ndef\r\n");
}

TEST_F(CaptureTest, AReadOnlyFileIsLeftUntouched) {
    auto file = root / "dest" / "RO.txt";
    std::ofstream(file, std::ios::binary) << "keep";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (bool overwrite : {false, true}) {
        host.Choices.OverwriteFile = overwrite;
        state.FileName = "RO";
        EXPECT_FALSE(engine.SaveCapture());
        EXPECT_EQ(ReadFile(file), "keep");
    }
}

TEST_F(CaptureTest, AnEmptyCaptureIsFalseAfterTheNameSteps) {
    state.CaptureText.clear();
    state.FileName = "";
    host.OnWaitForEvent = [&] { engine.NameConfirmed("typed"); };
    EXPECT_FALSE(engine.SaveCapture());
    EXPECT_EQ(state.FileName, "typed.txt");
    EXPECT_TRUE(Files(root / "dest").empty());
}

TEST_F(CaptureTest, TheViewerOpensOnlyAfterASuccessfulWrite) {
    host.Choices.ViewFile = true;
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
    host.OnWaitForEvent = [&] { engine.NameConfirmed("ok"); };
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
        host.Choices.OverwriteFile = true;
        EXPECT_FALSE(engine.SaveCapture());
    }
}

// A long capture spans blocks: written, compared and joined, it is the records in order.
TEST_F(DumpTest, ACaptureOverManyBlocksIsWrittenWhole) {
    CaptureBytes capture;
    ByteString joined;
    for (int i = 0; joined.size() < (std::size_t{5} << 20); ++i) {
        const ByteString entry =
            std::to_string(i) + ByteString(static_cast<std::size_t>(i % 97), 'x') + "\r\n";
        capture.append(entry);
        joined += entry;
    }
    capture.append(ByteString(std::size_t{3} << 20, 'y')); // larger than a block
    joined += ByteString(std::size_t{3} << 20, 'y');
    EXPECT_GT(capture.Pieces().size(), 5u);
    EXPECT_TRUE(capture == joined);
    EXPECT_FALSE(capture == joined.substr(1) + "z");
    ASSERT_TRUE(files.Write(root / "dest" / "long.txt", capture.Pieces(), WriteMode::CreateNew));
    EXPECT_TRUE(ReadFile(root / "dest" / "long.txt") == joined);
    capture.clear();
    EXPECT_TRUE(capture.Pieces().empty());
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
    host.Choices.ViewFile = true;
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
    EXPECT_FALSE(busy);
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
    // French for the user, the port's own text in the log for support.
    EXPECT_TRUE(host.Status.starts_with("L'appareil du port COM")) << host.Status;
    ASSERT_FALSE(host.Log.empty());
    EXPECT_TRUE(host.Log.back().find("function failed") != ByteString::npos) << host.Log.back();
    EXPECT_TRUE(busy) << "no trigger until the port is opened again";
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

// Records kept apart keep their journal locked: a program started meanwhile in the same folder
// leaves it alone, so the records reach the disk once when a folder takes them.
TEST_F(DumpTest, AnUnsavedCapturesJournalIsNotRecoveredTwice) {
    files.FailWrites = true;
    Device(Payloads({"one", "two", "three"}, true));
    engine.RunDump(false);
    ASSERT_EQ(engine.UnsavedRecords(), 3);
    EXPECT_EQ(engine.UnsavedRecords(false), 0) << "the journal holds them";
    ASSERT_EQ(FindJournals(root / "exe").size(), 1u);

    FakeHost other;
    other.Choices.DestPath = host.Choices.DestPath;
    other.ExeFolder = host.ExeFolder;
    other.Home = host.Home;
    CaptureFiles otherFiles;
    bool otherBusy = false;
    DumpEngine second{otherBusy, port, other, other, otherFiles, [&] { return other.Options(); }};
    EXPECT_TRUE(second.RecoverJournals().empty());

    files.FailWrites = false;
    engine.RetryUnsaved();
    EXPECT_EQ(engine.UnsavedRecords(), 0);
    const auto names = Files(root / "dest");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(ReadFile(root / "dest" / names[0]), "one\r\ntwo\r\nthree\r\n");
    EXPECT_TRUE(FindJournals(root / "exe").empty()) << "gone once the copy is on the disk";
}

// The session ends while a record is on its way: the copy already made is all that is saved,
// so that record is not acknowledged (the device keeps it for the next dump).
TEST_F(DumpTest, ARecordReadAfterTheSessionsCopyIsNotAcknowledged) {
    Device(Payloads({"one", "two", "three"}));
    bool saved = false;
    host.OnTime = [&](std::int64_t now) {
        driver->Step(now);
        // "two" whole in the input: counting byte, payload, two check bytes and CR.
        if (!saved && driver->Model().Stats().acksReceived == 1 &&
            line->InputCount(VirtualLine::A) >= 7) {
            saved = true;
            engine.SaveNow();
            host.Stop = true;
        }
    };
    engine.RunDump(false);
    ASSERT_TRUE(saved);
    EXPECT_EQ(line->TakeInput(VirtualLine::B), "") << "nothing answered after the copy";
    EXPECT_EQ(Files(root / "dest"), Names{"20261207093000_partiel.txt"});
    EXPECT_EQ(ReadFile(root / "dest" / "20261207093000_partiel.txt"), "one\r\n");
}

// --- names a folder cannot take whole, files that are not plain files, full disks ---

TEST_F(CaptureTest, ALongNameIsCutOnACharacterToWhatTheFolderTakes) {
    // 128 "é" from the device: 256 bytes once in UTF-8, more than a Linux folder takes.
    state.FileName = ByteString(128, '\xE9');
    EXPECT_TRUE(engine.SaveCapture());
    const ByteString kept(125, '\xE9');
    EXPECT_EQ(state.FileName, kept + ".txt");
    EXPECT_EQ(ReadFile(root / "dest" / NativePath(kept + ".txt")), "abc\r\ndef\r\n");
}

#ifndef _WIN32
// Runs the save on its own thread, bounded: a save that blocks on the FIFO is released by
// opening its other end, and counts as a failure.
bool SaveWithin(DumpEngine& engine, const fs::path& fifo, bool& blocked) {
    auto save = std::async(std::launch::async, [&] { return engine.SaveCapture(); });
    blocked = save.wait_for(std::chrono::seconds(10)) != std::future_status::ready;
    if (blocked) {
        int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        save.wait();
        ::close(reader);
    }
    return save.get();
}

TEST_F(CaptureTest, AFifoIsNeitherWaitedForNorWrittenInto) {
    const fs::path fifo = root / "dest" / "CAP.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bool blocked = false;
    state.FileName = "CAP";
    EXPECT_FALSE(SaveWithin(engine, fifo, blocked));
    EXPECT_FALSE(blocked);

    // With a reader at the other end it could be opened, but it is no file.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    state.FileName = "CAP";
    EXPECT_FALSE(SaveWithin(engine, fifo, blocked));
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0) << "bytes went into the FIFO";
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(CaptureTest, ALinkInTheFilesOwnNameIsNeverWrittenThroughButAFolderLinkIs) {
    std::ofstream(root / "outside.txt", std::ios::binary) << "keep";
    fs::create_symlink(root / "outside.txt", root / "dest" / "L.txt");
    fs::create_symlink(root / "nowhere.txt", root / "dest" / "D.txt");
    for (bool overwrite : {false, true}) {
        host.Choices.OverwriteFile = overwrite;
        state.FileName = "L";
        EXPECT_FALSE(engine.SaveCapture());
        state.FileName = "D";
        EXPECT_FALSE(engine.SaveCapture());
    }
    EXPECT_EQ(ReadFile(root / "outside.txt"), "keep");
    EXPECT_FALSE(fs::exists(root / "nowhere.txt"));
    EXPECT_TRUE(fs::is_symlink(root / "dest" / "D.txt"));

    // A destination folder that is a link is a common set-up.
    fs::create_directory_symlink(root / "dest", root / "linked");
    host.Choices.DestPath = root / "linked";
    state.FileName = "F";
    EXPECT_TRUE(engine.SaveCapture());
    EXPECT_EQ(ReadFile(root / "dest" / "F.txt"), "abc\r\ndef\r\n");
}

TEST_F(DumpTest, AFullDiskLeavesNeitherHalfARecordNorAnEmptyCopyBehind) {
    const fs::path small = root / "small";
    SmallDisk disk(small);
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    // 4000 bytes take one page of 4096: the next append starts in it, then meets the full disk.
    const ByteString earlier(4000, 'e');
    std::ofstream(small / "FULL.txt", std::ios::binary) << earlier;
    disk.Fill();
    host.Choices.DestPath = small;
    std::vector<ByteString> payloads(20, ByteString(40, 'r'));
    Device(Payloads(payloads, true, "FULL"));
    engine.RunDump(false);

    EXPECT_EQ(engine.LastDump().End, DumpEnd::NotSaved);
    EXPECT_EQ(ReadFile(small / "FULL.txt"), earlier);
    EXPECT_EQ(Files(small), (Names{"FULL.txt", "filler"}));
    // The rescue copy went to the next folder, whole.
    EXPECT_EQ(Files(root / "exe"), Names{"20261207093000.txt"});
    EXPECT_EQ(ReadFile(root / "exe" / "20261207093000.txt").size(), 20u * 42u);
}

// Destination, program folder and home all full: the records stay in memory and are said to be
// unsaved; a retry while still full keeps them, a folder with room takes them whole, and the
// next dump's save writes those of a run before it.
TEST_F(DumpTest, RecordsNoFolderTookAreKeptUntilAFolderHasRoom) {
    const fs::path small = root / "small";
    SmallDisk disk(small);
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    for (const char* sub : {"dest", "exe", "home"})
        fs::create_directory(small / sub);
    host.Choices.DestPath = small / "dest";
    host.ExeFolder = (small / "exe").string() + "/";
    host.Home = (small / "home").string() + "/";
    disk.Fill();
    std::vector<ByteString> payloads;
    for (int i = 0; i < 300; ++i)
        payloads.push_back("mesure " + std::to_string(i) + ByteString(30, 'x'));
    Device(Payloads(payloads, true, "FULL"));
    engine.RunDump(false);

    EXPECT_EQ(engine.LastDump().End, DumpEnd::NotSaved);
    EXPECT_EQ(engine.LastDump().Unsaved, 300);
    EXPECT_TRUE(host.Status.starts_with("300 enregistrements NON sauvegard\xE9s")) << host.Status;
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_TRUE(host.Messages[0].starts_with("300 enregistrements NON sauvegard\xE9s"));
    for (const char* sub : {"dest", "exe", "home"})
        EXPECT_TRUE(Files(small / sub).empty()) << sub;

    engine.RetryUnsaved();
    EXPECT_EQ(engine.UnsavedRecords(), 300);
    EXPECT_EQ(host.Messages.size(), 2u) << "told again";

    // "Enregistrer sous..." to a folder with room.
    host.Choices.DestPath = root / "dest";
    engine.RetryUnsaved();
    EXPECT_EQ(engine.UnsavedRecords(), 0);
    ByteString expected;
    for (const auto& payload : payloads)
        expected += payload + "\r\n";
    ASSERT_EQ(Files(root / "dest").size(), 1u);
    EXPECT_EQ(ReadFile(root / "dest" / Files(root / "dest")[0]), expected);
    EXPECT_TRUE(host.Status.starts_with("300 enregistrements sauvegard\xE9s:")) << host.Status;

    // Full again for one dump; the next one, once there is room, saves both.
    host.Choices.DestPath = small / "dest";
    driver.reset();
    Device(Payloads({"deux"}, true, "FULL"));
    engine.RunDump(false);
    EXPECT_EQ(engine.UnsavedRecords(), 1);
    fs::remove(small / "filler");
    driver.reset();
    Device(Payloads({"trois"}, true, "FULL"));
    engine.RunDump(false);
    EXPECT_EQ(engine.LastDump().End, DumpEnd::Saved);
    EXPECT_EQ(engine.UnsavedRecords(), 0);
    EXPECT_EQ(ReadFile(small / "dest" / "FULL.txt"), "trois\r\n");
    auto names = Files(small / "dest");
    std::erase(names, "FULL.txt");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(ReadFile(small / "dest" / names[0]), "deux\r\n");
}
#endif

} // namespace
} // namespace veldar::test
