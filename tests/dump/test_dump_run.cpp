// The dump run against the scripted device: requests, records, refusals, the end by state.
#include "dump_fixture.h"
#include "record_check.h"

namespace veldar::test {
namespace {

using Texts = std::vector<ByteString>;

TEST_F(DumpTest, TenUnansweredRequestsAlternateAndChangeNothingElse) {
    state.CaptureText = "old\r\n";
    state.FileName = "old";
    host.Log = {"earlier"};
    engine.RunDump(false);
    ByteString expected;
    for (int i = 0; i < 10; ++i)
        expected += i % 2 == 0 ? "LOAD\r" : "READ\r";
    EXPECT_EQ(line->TakeInput(VirtualLine::B), expected);
    EXPECT_EQ(host.Log, (Texts{"earlier", "ACK non arriv\xE9"}));
    EXPECT_EQ(host.Status, "Mettre l'appareil en d\xE9vidage.");
    EXPECT_EQ(engine.LastDump().End, DumpEnd::NoAcknowledgement);
    EXPECT_EQ(state.CaptureText, "old\r\n");
    EXPECT_EQ(state.FileName, "old");
    EXPECT_FALSE(host.Saw("show"));
    EXPECT_FALSE(host.Saw("beep"));
    EXPECT_FALSE(busy);
    // Eleven reads with 0, 5 ... 50 ms of sleep per request.
    EXPECT_EQ(host.SleptMs, 10 * 275);
}

TEST_F(DumpTest, AnAcknowledgementSplitOverTwoReadsIsNotRecognised) {
    auto config = Payloads({"abc"});
    config.splitAck = true;
    Device(config);
    engine.RunDump(false);
    EXPECT_EQ(driver->Model().Stats().requestsReceived, 10);
    EXPECT_EQ(host.Log.back(), "ACK non arriv\xE9");
}

TEST_F(DumpTest, WhatWaitsBeforeTheRequestIsDroppedSoItsAcknowledgementIsRead) {
    Device(Payloads({"abc", "def"}));
    host.Choices.AutoFileName = true;
    // Stale answers: read with the acknowledgement, they would hide it.
    ByteString noise;
    while (noise.size() < 2048)
        noise += "NAK\r";
    line->Deliver(VirtualLine::A, noise);
    engine.RunDump(false);
    EXPECT_EQ(driver->Model().Stats().requestsReceived, 1);
    EXPECT_EQ(engine.LastDump().End, DumpEnd::Saved);
    EXPECT_EQ(state.CaptureText, "abc\r\ndef\r\n");
}

TEST_F(DumpTest, ACompleteDumpWithHeaderIsLoggedCountedAndSaved) {
    Device(Payloads({"abc", "Relev\xE9 2"}, true, "ABC"));
    std::vector<ByteString> statuses;
    engine.RunDump(false);

    EXPECT_EQ(ReadFile(root / "dest" / "ABC.txt"), "abc\r\nRelev\xE9 2\r\n");
    EXPECT_EQ(engine.LastDump().End, DumpEnd::Saved);
    EXPECT_EQ(engine.LastDump().Records, 2);
    EXPECT_EQ(engine.LastDump().File, root / "dest" / "ABC.txt");
    EXPECT_EQ(state.FileName, "ABC.txt");
    EXPECT_EQ(host.Maximum, 2);
    EXPECT_EQ(host.Position, 2);
    ASSERT_EQ(host.Log.size(), 8u);
    EXPECT_EQ(WithoutTrace(host.Log[0]), "Ent\xEAte trouv\xE9: ABC - 2");
    EXPECT_EQ(WithoutTrace(host.Log[1]), "Requete: ACK\r");
    auto abc = devsim::EncodeRecord('1', "abc", true);
    EXPECT_EQ(WithoutTrace(host.Log[2]),
              "(1)abc(" + std::to_string(static_cast<unsigned char>(abc[4])) + ")(" +
                  std::to_string(static_cast<unsigned char>(abc[5])) + ")");
    EXPECT_EQ(WithoutTrace(host.Log[3]), "Requete: ACK\r");
    EXPECT_TRUE(WithoutTrace(host.Log[4]).starts_with("(2)Relev\xE9 2("));
    EXPECT_EQ(WithoutTrace(host.Log[6]), "Requete: ACK\r"); // the end marker
    EXPECT_EQ(host.Log.back(),
              "Chemin: " + host.Choices.DestPath.string() + "\r\nFichier: ABC.txt");
    EXPECT_TRUE(host.Status.starts_with("2 enregistrements\r\nD\xE9vidage termin\xE9 en: 0:00:0"));
    EXPECT_NE(host.Status.find("\r\nD\xE9vidage termin\xE9 \xE0: 9:30:0"), ByteString::npos);
    EXPECT_EQ(driver->Model().Stats().dumpsCompleted, 1);
    EXPECT_TRUE(host.Saw("show"));
    EXPECT_TRUE(host.Saw("beep"));
    EXPECT_EQ(host.Journal.back(), "hide");
    EXPECT_FALSE(host.Saw("panel shown"));
    EXPECT_FALSE(busy);
}

TEST_F(DumpTest, TheStatusCountsDataRecordsOnly) {
    Device(Payloads({"a", "b"}, true));
    engine.RunDump(false);
    std::vector<std::string> recording;
    for (const auto& e : host.Journal)
        if (e.starts_with("status D\xE9vidage en cours...\r\nEnregistrement "))
            recording.push_back(e.substr(e.rfind(' ') + 1));
    // Header, "a", "b", end marker.
    EXPECT_EQ(recording, (std::vector<std::string>{"0", "0", "1", "2"}));
}

TEST_F(DumpTest, ASplitRecordIsJoinedWithOneDotPerRead) {
    auto config = Payloads({"first", "second"});
    config.split.once = {1};
    config.splitGapMs = 60;
    Device(config);
    host.Choices.AutoFileName = true;
    engine.RunDump(false);
    EXPECT_EQ(state.CaptureText, "first\r\nsecond\r\n");
    ASSERT_GE(host.Log.size(), 4u);
    const ByteString& second = host.Log[2];
    EXPECT_EQ(WithoutTrace(second).substr(0, 9), "(1)second");
    EXPECT_GE(second.find_first_not_of('.'), 3u) << "a read per piece and per empty poll";
}

TEST_F(DumpTest, ARefusedRecordIsResentAndCapturedOnce) {
    auto config = Payloads({"abc", "def"});
    config.badChecksum.once = {1};
    Device(config);
    host.Choices.AutoFileName = true;
    engine.RunDump(false);
    EXPECT_EQ(state.CaptureText, "abc\r\ndef\r\n");
    bool refusalLogged = false;
    for (const auto& l : host.Log)
        if (WithoutTrace(l).starts_with("Requete: NAK\r ERREUR DU CHECKSUM: [ "))
            refusalLogged = true;
    EXPECT_TRUE(refusalLogged);
    EXPECT_EQ(driver->Model().Stats().naksReceived, 1);
}

TEST_F(DumpTest, TheEleventhConsecutiveRefusalAbortsAfterItsNak) {
    auto config = Payloads({"abc"});
    config.badChecksum.always = {0};
    Device(config);
    host.Choices.AutoFileName = true;
    engine.RunDump(false);
    EXPECT_EQ(driver->Model().Stats().naksReceived, 11);
    EXPECT_EQ(host.Status, "Une erreur est survenue !\r\nD\xE9vidage annul\xE9");
    EXPECT_TRUE(host.Saw("beep"));
    EXPECT_FALSE(host.Saw("hide"));
    EXPECT_TRUE(Files(root / "dest").empty());
    EXPECT_TRUE(Files(root / "exe").empty());
    EXPECT_FALSE(busy);
}

TEST_F(DumpTest, TheProgressNeverStepsBeyondItsMaximum) {
    auto config = Payloads({"1", "2", "3", "4"}, true);
    config.headerCountText = "2";
    Device(config);
    engine.RunDump(false);
    EXPECT_EQ(host.Maximum, 2);
    EXPECT_EQ(host.Position, 2);
    EXPECT_EQ(state.CaptureText, "1\r\n2\r\n3\r\n4\r\n");
    EXPECT_TRUE(host.Status.starts_with("4 enregistrements"));
}

TEST_F(DumpTest, ANegativeHeaderCountGivesAThousand) {
    auto config = Payloads({"1"}, true);
    config.headerCountText = "-3";
    Device(config);
    engine.RunDump(false);
    EXPECT_EQ(host.Maximum, 1000);
}

TEST_F(DumpTest, AnEndMarkerRightAfterTheAcknowledgementSavesNothing) {
    Device(Payloads({}, true, "EMPTY"));
    engine.RunDump(false);
    EXPECT_TRUE(host.Saw("panel hidden")) << "the name steps ran";
    EXPECT_EQ(host.Status, "Le fichier n'a pas pu \xEAtre cr\xE9\xE9");
    EXPECT_EQ(host.Messages, Texts{"Le fichier n'a pas pu \xEAtre cr\xE9\xE9"});
    EXPECT_TRUE(Files(root / "dest").empty());
    EXPECT_EQ(host.Journal.back(), "hide");
}

TEST_F(DumpTest, ShortRecordsAreRefusedWithoutText) {
    // Scripted by hand: acknowledgement, a two-byte record, then the end marker.
    int phase = 0;
    host.OnTime = [&](std::int64_t) {
        ByteString got = line->TakeInput(VirtualLine::B);
        if (phase == 0 && got == "LOAD\r") {
            line->Deliver(VirtualLine::A, "ACK\r");
            phase = 1;
        } else if (phase == 1) {
            line->Deliver(VirtualLine::A, "x\r");
            phase = 2;
        } else if (phase == 2 && got == "NAK\r") {
            line->Deliver(VirtualLine::A, "OVER\r");
            phase = 3;
        }
    };
    host.Choices.AutoFileName = true;
    engine.RunDump(false);
    bool refused = false;
    for (const auto& l : host.Log)
        refused = refused || WithoutTrace(l) == "Requete: NAK\r";
    EXPECT_TRUE(refused);
}

TEST_F(DumpTest, TheCtsTriggerStartsADumpOnlyOnARisingLineWhenIdle) {
    Device(Payloads({"abc"}, true));
    engine.ComPort1CTSChange(&port, false);
    EXPECT_EQ(driver->Model().Stats().requestsReceived, 0);
    busy = true;
    line->Deliver(VirtualLine::A, "zz");
    engine.ComPort1CTSChange(&port, true);
    engine.clCtsDblClick();
    engine.ComPort1RxChar(&port, 2);
    EXPECT_TRUE(line->TakeInput(VirtualLine::B).empty());
    EXPECT_EQ(line->TakeInput(VirtualLine::A), "zz") << "not even a read while busy";
    busy = false;
    engine.ComPort1CTSChange(&port, true);
    EXPECT_EQ(driver->Model().Stats().dumpsCompleted, 1);
    // No probe: the CTS trigger does not wake the device.
    EXPECT_TRUE(driver->Model().Stats().probes.empty());
}

TEST_F(DumpTest, TheReceivedBytesTriggerReadsThemAwayThenProbes) {
    Device(Payloads({"abc"}, true));
    line->Deliver(VirtualLine::A, "noise");
    engine.ComPort1RxChar(&port, 5);
    EXPECT_EQ(driver->Model().Stats().dumpsCompleted, 1);
    const auto& probes = driver->Model().Stats().probes;
    EXPECT_EQ(probes.size(), 3u) << "found at 115200, the third speed";
}

} // namespace
} // namespace veldar::test

namespace veldar::test {
namespace {

TEST_F(DumpTest, LogLinesByteForByteWithTheDeviceTiming) {
    // Acknowledged 2 ms after the request; the header comes 30 ms after the acknowledgement
    // (reads at 0, 4, 12, 24 and 30 ms: five dots), each next record 1 ms after the reply
    // (reads at 0 and 1 ms: two dots).
    Device(Payloads({"x"}, true, "N"));
    engine.RunDump(false);
    auto x = devsim::EncodeRecord('1', "x", true);
    EXPECT_EQ(host.Log,
              (Texts{"Ent\xEAte trouv\xE9: N - 1", ".....Requete: ACK\r",
                     "..(1)x(" + std::to_string(static_cast<unsigned char>(x[2])) + ")(" +
                         std::to_string(static_cast<unsigned char>(x[3])) + ")",
                     "..Requete: ACK\r", "..Requete: ACK\r",
                     "Chemin: " + host.Choices.DestPath.string() + "\r\nFichier: N.txt"}));
}

TEST_F(DumpTest, AHeaderAfterTheFirstDataRecordIsData) {
    Device(Payloads({"abc", "#;X;1"}, true, "H"));
    engine.RunDump(false);
    EXPECT_EQ(state.CaptureText, "abc\r\n#;X;1\r\n");
    EXPECT_EQ(state.FileName, "H.txt");
}

TEST_F(DumpTest, AnAccentedHeaderNameNamesTheFile) {
    Device(Payloads({"mesur\xE9"}, true, "Relev\xE9"));
    engine.RunDump(false);
    EXPECT_EQ(ReadFile(root / "dest" / fs::path(u8"Relevé.txt")), "mesur\xE9\r\n");
    EXPECT_EQ(host.Log.back(),
              "Chemin: " + host.Choices.DestPath.string() + "\r\nFichier: Relev\xE9.txt");
}

} // namespace
} // namespace veldar::test
