// The journal of a dump: each record in it before its acknowledgement, a journal that cannot
// be kept changing nothing else, removed once a copy is safe or the dump is cancelled, kept
// otherwise, and turned into a capture at the next start.
#include "dump_fixture.h"
#include "dump_journal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "small_disk.h"

#include <sys/stat.h>
#endif

namespace veldar::test {
namespace {

using Names = std::vector<std::string>;

std::vector<ByteString> Numbered(int count) {
    std::vector<ByteString> payloads;
    for (int i = 1; i <= count; ++i)
        payloads.push_back("MESURE " + std::to_string(i) + ";" + std::to_string(i * 7));
    return payloads;
}

ByteString Joined(const std::vector<ByteString>& payloads, std::size_t count) {
    ByteString text;
    for (std::size_t i = 0; i < count; ++i)
        text += payloads[i] + "\r\n";
    return text;
}

// A running journal's bytes. On Windows it is open with the right to delete it, which every
// other handle must share.
ByteString ReadRunningJournal(const fs::path& file) {
#ifdef _WIN32
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "not readable";
    ByteString bytes;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0)
        bytes.append(buffer, n);
    CloseHandle(h);
    return bytes;
#else
    std::ifstream in(file, std::ios::binary);
    return ByteString(std::istreambuf_iterator<char>(in), {});
#endif
}

constexpr char JournalFailed[] = "Journal du d\xE9vidage impossible \xE0 tenir: ";

TEST_F(DumpTest, EachRecordIsInTheJournalBeforeItsAcknowledgementGoesOut) {
    const auto payloads = Numbered(300);
    auto config = Payloads(payloads, true, "ORDER");
    // Over two seconds of the dump's clock.
    config.recordDelayMs = 5;
    Device(config);
    // What the journal held each time the program sent an ACK.
    std::vector<ByteString> atAck;
    TComLink link;
    link.OnTxBytes = [&](TCustomComPort*, const std::uint8_t* bytes, int count) {
        if (ByteString(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)) !=
            "ACK\r")
            return;
        const auto journals = FindJournals(root / "exe");
        atAck.push_back(journals.size() == 1 ? ReadRunningJournal(journals[0]) : "no journal");
    };
    port.AttachLink(&link);
    engine.RunDump(false);
    port.DetachLink(&link);

    const DumpSummary& dump = engine.LastDump();
    ASSERT_EQ(dump.End, DumpEnd::Saved);
    // The header's, each record's and the end marker's.
    ASSERT_EQ(atAck.size(), payloads.size() + 2);
    EXPECT_TRUE(
        atAck[0].starts_with("VELDAR - d\xE9vidage commenc\xE9 le 07/12/2026 09:30:00 sur "))
        << atAck[0];
    EXPECT_NE(atAck[0].find("\r\n#;ORDER;300\r\n"), ByteString::npos) << atAck[0];
    for (std::size_t i = 1; i <= payloads.size() + 1; ++i)
        ASSERT_EQ(ReadJournalContent(atAck[i]).Capture,
                  Joined(payloads, std::min(i, payloads.size())))
            << "at the ACK of record " << i;
    // Synced after an ACK at most once a second of the dump, and once at its end.
    EXPECT_GE(dump.JournalSyncs, 2);
    EXPECT_LE(dump.JournalSyncs, dump.ElapsedMs / 1000 + 1);
    // The capture is on the disk: the journal has gone.
    EXPECT_EQ(ReadFile(root / "dest" / "ORDER.txt"), Joined(payloads, payloads.size()));
    EXPECT_TRUE(FindJournals(root / "exe").empty());
    EXPECT_TRUE(dump.Journal.empty());
}

TEST_F(DumpTest, AJournalThatCannotBeKeptIsSaidOnceAndChangesNothingElse) {
    // 200 records of 42 bytes: twice what a page takes.
    auto payloads = Numbered(200);
    for (auto& payload : payloads)
        payload.resize(40, '.');
    Device(Payloads(payloads, true, "SAME"));
    engine.RunDump(false);
    ASSERT_EQ(engine.LastDump().End, DumpEnd::Saved);
    const auto journaledLog = host.Log;

    auto dumpWithout = [&](const std::string& why) {
        SCOPED_TRACE(why);
        fs::remove(root / "dest" / "SAME.txt");
        driver.reset();
        Device(Payloads(payloads, true, "SAME"));
        engine.RunDump(false);
        EXPECT_EQ(engine.LastDump().End, DumpEnd::Saved);
        EXPECT_EQ(engine.LastDump().Records, 200);
        EXPECT_EQ(ReadFile(root / "dest" / "SAME.txt"), Joined(payloads, payloads.size()));
        std::vector<ByteString> others;
        int said = 0;
        for (const auto& line : host.Log) {
            if (line.starts_with(JournalFailed))
                ++said;
            else
                others.push_back(line);
        }
        EXPECT_EQ(said, 1);
        EXPECT_EQ(others, journaledLog);
    };

    // A file where the program's folder should be: no journal can be made.
    std::ofstream(root / "file", std::ios::binary) << "x";
    host.ExeFolder = root / "file" / "";
    dumpWithout("no folder");
#ifndef _WIN32
    // A link to /dev/full in the journal's name is neither written through nor taken away:
    // the journal takes the next name.
    host.ExeFolder = root / "exe" / "";
    const fs::path link = root / "exe" / ("VELDAR_" + FormatAutoName(host.Now()) + ".journal");
    fs::create_symlink("/dev/full", link);
    driver.reset();
    Device(Payloads(payloads, true, "SAME"));
    engine.RunDump(false);
    EXPECT_EQ(host.Log, journaledLog);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FindJournals(root / "exe").size(), 1u);

    // The disk fills up in mid-dump: one page holds about a hundred records.
    SmallDisk disk(root / "small");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    disk.Fill();
    disk.Free(4096);
    host.ExeFolder = root / "small" / "";
    dumpWithout("a full disk");
    // Given up whole: no journal of half a dump is left for the next start.
    EXPECT_EQ(Files(root / "small"), Names{"filler"});
#endif
}

TEST_F(DumpTest, TheJournalStaysOnlyWhenNoCopyCouldBeWrittenAndTheNextStartSavesIt) {
    // Cancelled: nothing is saved, by design, and the journal goes too.
    auto cancelled = Payloads({"one", "two", "three"}, true);
    cancelled.badChecksum.always = {2};
    Device(cancelled);
    engine.RunDump(false);
    ASSERT_EQ(engine.LastDump().End, DumpEnd::Aborted);
    EXPECT_TRUE(FindJournals(root / "exe").empty());

    // Neither the capture nor any rescue copy can be written: the journal is all there is.
    files.FailWrites = true;
    const ByteString started = FormatAutoName(host.Now());
    driver.reset();
    Device(Payloads({"one", "two", "three"}, true));
    fs::path kept;
    {
        // A program of its own, which ends before the next start.
        DumpEngine ending{busy, port, host, host, files, [this] { return host.Options(); }};
        ending.RunDump(false);
        ASSERT_EQ(ending.LastDump().End, DumpEnd::NotSaved);
        kept = ending.LastDump().Journal;
    }
    EXPECT_EQ(FindJournals(root / "exe"), std::vector<fs::path>{kept});
    EXPECT_EQ(ReadJournalContent(ReadFile(kept)).Capture, "one\r\ntwo\r\nthree\r\n");

    // The next start, its destination gone: the program's folder takes the copy.
    files.FailWrites = false;
    host.Choices.DestPath = root / "gone";
    host.Log.clear();
    const ByteString status = engine.RecoverJournals();
    const ByteString copy = started + "_partiel.txt";
    EXPECT_EQ(status, "3 enregistrements r\xE9\x63up\xE9r\xE9s:\r\n" + copy);
    EXPECT_EQ(ReadFile(root / "exe" / copy), "one\r\ntwo\r\nthree\r\n");
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_EQ(host.Log, std::vector<ByteString>{
                            "Arr\xEAt brutal d'un d\xE9vidage pr\xE9\x63\xE9\x64\x65nt: 3 "
                            "enregistrements r\xE9\x63up\xE9r\xE9s dans " +
                            PathText(InFolder(host.ExeFolder, NativePath(copy)))});
    // Nothing more the next time.
    EXPECT_TRUE(engine.RecoverJournals().empty());
}

TEST_F(DumpTest, AStartRecoversEveryJournalItMayTakeAndLeavesTheOthersInPlace) {
    const fs::path exe = root / "exe";
    auto write = [&](const std::string& name, const ByteString& bytes) {
        std::ofstream(exe / name, std::ios::binary) << bytes;
    };
    const ByteString first = "VELDAR - d\xE9vidage commenc\xE9 le 07/12/2026 08:00:00 sur COM1\r\n";
    // Torn by the death of the program in the middle of a record.
    write("VELDAR_20261207080000.journal", first + "#;ABC;3\r\none\r\ntwo\r\nth");
    // veldar-dump's, without a header.
    write("veldar-dump_20261207081500.journal", first + "un\r\n");
    // Killed before its first record: nothing to save, and it goes.
    write("VELDAR_20261207083000.journal", first + "#;ABC;3\r\n");
    // Held by a dump that is running.
    JournalFile running;
    ASSERT_TRUE(running.Create(exe / "veldar-dump_20261207090000.journal"));
    ASSERT_TRUE(running.Write(first + "live\r\n"));
    // Not a file: read nowhere, left in place.
    fs::create_directory(exe / "VELDAR_20261207084000.journal");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((exe / "VELDAR_20261207084500.journal").c_str(), 0600), 0);
#endif
    write("notes.journal", "not ours");

    const ByteString status = engine.RecoverJournals();

    EXPECT_EQ(ReadFile(root / "dest" / "20261207080000_partiel.txt"), "one\r\ntwo\r\nth");
    EXPECT_EQ(ReadFile(root / "dest" / "20261207081500_partiel.txt"), "un\r\n");
    EXPECT_EQ(Files(root / "dest").size(), 2u);
    EXPECT_EQ(status, "4 enregistrements r\xE9\x63up\xE9r\xE9s:\r\n20261207081500_partiel.txt");
    Names left = {"VELDAR_20261207084000.journal", "notes.journal",
                  "veldar-dump_20261207090000.journal"};
#ifndef _WIN32
    left.insert(left.begin() + 1, "VELDAR_20261207084500.journal");
#endif
    EXPECT_EQ(Files(exe), left);
    int unreadable = 0, torn = 0;
    for (const auto& line : host.Log) {
        unreadable += line.starts_with("Journal illisible, laiss\xE9 en place: ");
        torn += line.ends_with(" (dernier enregistrement incomplet, gard\xE9 tel quel)");
    }
    EXPECT_EQ(unreadable, static_cast<int>(left.size()) - 2);
    EXPECT_EQ(torn, 1);
}

} // namespace
} // namespace veldar::test
