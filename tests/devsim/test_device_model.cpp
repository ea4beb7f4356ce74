#include "device_model.h"
#include "record_check.h"
#include "virtual_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace veldar::devsim {
namespace {

using namespace std::string_literals;

constexpr std::uint32_t Fast = 115200;
const ByteString WakeUp = {'\x07', '6', 'Q'};

ByteString Rec(int index, const ByteString& payload, bool averageRule = false) {
    return EncodeRecord(static_cast<char>('0' + index % 10), payload, averageRule);
}

DeviceConfig ThreeRecords() {
    DeviceConfig c;
    c.payloads = {"abc", "12;34", "x"};
    return c;
}

// --- records ---

TEST(EncodeRecord, WorkedExampleUnderBothRules) {
    // '0' + "abc": S = 48 + 97 + 98 + 99 = 342, k = 4.
    EXPECT_EQ(EncodeRecord('0', "abc", false), "0abc\x56\x01\r"s); // 86, 1
    EXPECT_EQ(EncodeRecord('0', "abc", true), "0abc\x04\x55\r"s);  // 4, 85
}

TEST(EncodeRecord, ThirteenGoesAsFourteen) {
    // Sum rule, L: S = 48 + 221 = 269 = 256 + 13.
    EXPECT_EQ(EncodeRecord('0', "\xDD", false), "0\xDD\x0E\x01\r"s);
    // Sum rule, H: S = 48 + 13 * 255 = 3363 = 13 * 256 + 35.
    EXPECT_EQ(EncodeRecord('0', ByteString(13, '\xFF'), false),
              "0" + ByteString(13, '\xFF') + "\x23\x0E\r");
    // Average rule, L: k = 13; S = 48 + 12 * 97 = 1212, H = 93.
    EXPECT_EQ(EncodeRecord('0', ByteString(12, 'a'), true), "0" + ByteString(12, 'a') + "\x0E]\r");
    // Average rule, H: S = 48 + 1 + 2 + 1 = 52, k = 4, H = 13.
    EXPECT_EQ(EncodeRecord('0', "\x01\x02\x01", true), "0\x01\x02\x01\x04\x0E\r"s);
}

TEST(EncodeRecord, ValuesAbove255GoAsTheirLowByte) {
    // S = 48 + 257 * 255 = 65583: L = 47, H = 256 -> 0.
    ByteString big(257, '\xFF');
    EXPECT_EQ(EncodeRecord('0', big, false), "0" + big + "\x2F" + ByteString(1, '\0') + "\r");
    // k = 301 -> 45; S = 48 + 300 * 97 = 29148, H = 96.
    ByteString longer(300, 'a');
    EXPECT_EQ(EncodeRecord('0', longer, true), "0" + longer + "\x2D\x60\r");
}

// --- probe and wake-up ---

TEST(DeviceModel, EchoesTheProbeOnlyAtItsSpeed) {
    DeviceConfig c;
    c.baud = 9600;
    DeviceModel m(c);
    m.Receive("\x0F", 19200, false, 0);
    EXPECT_FALSE(m.NextDue());
    EXPECT_EQ(m.TakeDue(100), "");
    m.Receive("\x0F", 9600, false, 200);
    EXPECT_EQ(m.NextDue(), 201);
    EXPECT_EQ(m.TakeDue(200), "");
    EXPECT_EQ(m.TakeDue(201), "\x0F");

    const auto& probes = m.Stats().probes;
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].baud, 19200u);
    EXPECT_FALSE(probes[0].echoed);
    EXPECT_EQ(probes[1].baud, 9600u);
    EXPECT_TRUE(probes[1].echoed);
    EXPECT_EQ(m.Stats().bytesNotUnderstood, 1u);
}

TEST(DeviceModel, AnswersAnotherSpeedWithTheConfiguredNoise) {
    DeviceConfig c;
    c.baud = 9600;
    c.wrongSpeedNoise = "\xF0\x80";
    c.probeEchoDelayMs = 5;
    DeviceModel m(c);
    m.Receive("\x0F", 4800, false, 10);
    EXPECT_EQ(m.TakeDue(14), "");
    EXPECT_EQ(m.TakeDue(15), "\xF0\x80");
}

TEST(DeviceModel, LateEchoComesAfterTheConfiguredDelay) {
    DeviceConfig c;
    c.probeEchoDelayMs = 150;
    c.probeEcho = "\x0F\r";
    DeviceModel m(c);
    m.Receive("\x0F", Fast, false, 0);
    EXPECT_EQ(m.TakeDue(100), "");
    EXPECT_EQ(m.TakeDue(150), "\x0F\r");
}

TEST(DeviceModel, RecordsWakeUpBytesWithSpeedAndRts) {
    DeviceConfig c;
    c.baud = 19200;
    DeviceModel m(c);
    m.Receive("\x07", 19200, false, 100);
    m.Receive("6", 19200, false, 200);
    EXPECT_FALSE(m.Awake());
    m.Receive("Q", 19200, true, 300);
    EXPECT_TRUE(m.Awake());
    EXPECT_EQ(m.CurrentBaud(), Fast);

    const auto& bytes = m.Stats().wakeUpBytes;
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[0].byte, '\x07');
    EXPECT_EQ(bytes[1].byte, '6');
    EXPECT_EQ(bytes[2].byte, 'Q');
    EXPECT_EQ(bytes[1].atMs, 200);
    for (const auto& b : bytes) {
        EXPECT_EQ(b.baud, 19200u);
        EXPECT_TRUE(b.understood);
    }
    EXPECT_FALSE(bytes[0].rts);
    EXPECT_TRUE(bytes[2].rts);
    EXPECT_EQ(m.TakeDue(1000), ""); // the wake-up is not answered
}

TEST(DeviceModel, WakeUpAtAnotherSpeedOrOutOfOrderDoesNotWake) {
    DeviceConfig c;
    c.baud = 19200;
    DeviceModel m(c);
    for (char b : WakeUp)
        m.Receive(ByteString(1, b), 9600, false, 0);
    EXPECT_FALSE(m.Awake());
    ASSERT_EQ(m.Stats().wakeUpBytes.size(), 3u);
    EXPECT_FALSE(m.Stats().wakeUpBytes[0].understood);
    EXPECT_EQ(m.Stats().wakeUpBytes[0].baud, 9600u);

    for (char b : "6\x07Q"s)
        m.Receive(ByteString(1, b), 19200, false, 0);
    EXPECT_FALSE(m.Awake());
    EXPECT_EQ(m.CurrentBaud(), 19200u);
}

TEST(DeviceModel, NeedsWakeUpIgnoresRequestsUntilWokenThenTalksFast) {
    DeviceConfig c = ThreeRecords();
    c.baud = 9600;
    c.needsWakeUp = true;
    DeviceModel m(c);
    m.Receive("LOAD\r", 9600, false, 0);
    EXPECT_EQ(m.Stats().requestsReceived, 1);
    EXPECT_EQ(m.Stats().requestsAnswered, 0);
    EXPECT_FALSE(m.NextDue());

    m.Receive("\x07", 9600, false, 100);
    m.Receive("6", 9600, false, 200);
    m.Receive("Q", 9600, false, 300);
    m.Receive("READ\r", 9600, true, 400); // the old speed is not understood any more
    EXPECT_EQ(m.Stats().requestsReceived, 1);
    m.Receive("READ\r", Fast, true, 500);
    EXPECT_EQ(m.Stats().requestsAnswered, 1);
    EXPECT_EQ(m.TakeDue(502), "ACK\r");
}

// --- the dump ---

TEST(DeviceModel, AcknowledgesARequestAfterTheDelayThenPausesBeforeTheFirstRecord) {
    DeviceModel m(ThreeRecords());
    m.Receive("LOAD\r", Fast, true, 10);
    EXPECT_EQ(m.TakeDue(11), "");
    EXPECT_EQ(m.TakeDue(12), "ACK\r");
    EXPECT_EQ(m.NextDue(), 42);
    EXPECT_EQ(m.TakeDue(41), "");
    EXPECT_EQ(m.TakeDue(42), Rec(0, "abc"));
}

TEST(DeviceModel, SlowAcknowledgementFollowsTheConfiguredDelay) {
    DeviceConfig c = ThreeRecords();
    c.ackDelayMs = 300;
    DeviceModel m(c);
    m.Receive("READ\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(299), "");
    EXPECT_EQ(m.TakeDue(300), "ACK\r");
}

TEST(DeviceModel, RequestArrivingInPiecesIsOneRequest) {
    DeviceModel m(ThreeRecords());
    m.Receive("LO", Fast, true, 0);
    m.Receive("AD", Fast, true, 1);
    EXPECT_FALSE(m.NextDue());
    m.Receive("\r", Fast, true, 2);
    EXPECT_EQ(m.TakeDue(4), "ACK\r");
}

// Plays the program for a whole dump, answering every record with ACK one ms after it is due.
std::vector<ByteString> AcceptAll(DeviceModel& m, std::int64_t& now) {
    std::vector<ByteString> seen;
    while (auto due = m.NextDue()) {
        now = *due;
        ByteString out = m.TakeDue(now);
        seen.push_back(out);
        m.Receive("ACK\r", Fast, true, now + 1);
    }
    return seen;
}

TEST(DeviceModel, DumpWithoutHeaderUsesTheSumRuleAndEndsWithOver) {
    DeviceModel m(ThreeRecords());
    std::int64_t now = 0;
    m.Receive("LOAD\r", Fast, true, now);
    EXPECT_EQ(m.TakeDue(2), "ACK\r");
    auto seen = AcceptAll(m, now);
    EXPECT_EQ(seen,
              (std::vector<ByteString>{Rec(0, "abc"), Rec(1, "12;34"), Rec(2, "x"), "OVER\r"}));
    EXPECT_EQ(m.Stats().dumpsCompleted, 1);
    EXPECT_EQ(m.Stats().acksReceived, 3);
    EXPECT_EQ(m.Stats().accepted, (std::vector<ByteString>{"abc", "12;34", "x"}));
    EXPECT_TRUE(m.Stats().strayLines.empty());
}

TEST(DeviceModel, WithoutHeaderEachRecordPassesTheProgramsOwnRuleChoice) {
    // The program takes the average rule for a first record holding "#;", the sum rule for
    // any later one.
    DeviceConfig c;
    c.payloads = {"a#;b", "c#;d", "e"};
    DeviceModel m(c);
    std::int64_t now = 0;
    m.Receive("LOAD\r", Fast, true, now);
    m.TakeDue(2);
    auto seen = AcceptAll(m, now);
    ASSERT_EQ(seen.size(), 4u);
    for (int records = 0; records < 3; ++records) {
        const ByteString& record = seen[static_cast<std::size_t>(records)];
        EXPECT_TRUE(CheckRecord(record, UsesAverageRule(false, records, record)).Passed)
            << "record " << records;
    }
}

TEST(DeviceModel, NextRecordAndOverFollowTheRecordDelay) {
    DeviceConfig c = ThreeRecords();
    c.payloads.resize(1);
    c.recordDelayMs = 7;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + Rec(0, "abc"));
    m.Receive("ACK\r", Fast, true, 50);
    EXPECT_EQ(m.TakeDue(56), "");
    EXPECT_EQ(m.TakeDue(57), "OVER\r");
}

TEST(DeviceModel, DumpWithHeaderUsesTheAverageRuleForEveryRecord) {
    DeviceConfig c = ThreeRecords();
    c.sendHeader = true;
    c.headerName = "ST12";
    DeviceModel m(c);
    std::int64_t now = 0;
    m.Receive("LOAD\r", Fast, true, now);
    m.TakeDue(2);
    auto seen = AcceptAll(m, now);
    EXPECT_EQ(seen, (std::vector<ByteString>{Rec(0, "#;ST12;3", true), Rec(1, "abc", true),
                                             Rec(2, "12;34", true), Rec(3, "x", true), "OVER\r"}));
    EXPECT_EQ(m.Stats().accepted.front(), "#;ST12;3");
}

TEST(DeviceModel, HeaderCountCanBeAnyText) {
    DeviceConfig c = ThreeRecords();
    c.sendHeader = true;
    c.headerName = "A";
    c.headerCountText = "-7";
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(100), "ACK\r" + Rec(0, "#;A;-7", true));
}

TEST(DeviceModel, CountingByteRunsFromZeroToNineAndAgain) {
    DeviceConfig c;
    for (int i = 0; i < 12; ++i)
        c.payloads.push_back("p" + std::to_string(i));
    DeviceModel m(c);
    std::int64_t now = 0;
    m.Receive("LOAD\r", Fast, true, now);
    m.TakeDue(2);
    auto seen = AcceptAll(m, now);
    ASSERT_EQ(seen.size(), 13u);
    EXPECT_EQ(seen[9][0], '9');
    EXPECT_EQ(seen[10], Rec(0, "p10"));
    EXPECT_EQ(seen[11], Rec(1, "p11"));
}

TEST(DeviceModel, NakBringsTheSameRecordAgain) {
    DeviceModel m(ThreeRecords());
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + Rec(0, "abc"));
    m.Receive("ACK\r", Fast, true, 40);
    EXPECT_EQ(m.TakeDue(41), Rec(1, "12;34"));
    m.Receive("NAK\r", Fast, true, 50);
    EXPECT_EQ(m.TakeDue(51), Rec(1, "12;34"));
    m.Receive("NAK\r", Fast, true, 60);
    EXPECT_EQ(m.TakeDue(61), Rec(1, "12;34"));
    m.Receive("ACK\r", Fast, true, 70);
    EXPECT_EQ(m.TakeDue(71), Rec(2, "x"));

    const auto& r = m.Stats().records;
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].sendings, 3);
    EXPECT_EQ(r[1].naks, 2);
    EXPECT_EQ(r[1].acks, 1);
    EXPECT_EQ(r[0].naks, 0);
    EXPECT_EQ(m.Stats().naksReceived, 2);
}

TEST(DeviceModel, NakToOverBringsOverAgainAndAckEndsTheDump) {
    DeviceConfig c = ThreeRecords();
    c.payloads.resize(1);
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    m.TakeDue(32);
    m.Receive("ACK\r", Fast, true, 40);
    EXPECT_EQ(m.TakeDue(41), "OVER\r");
    m.Receive("NAK\r", Fast, true, 45);
    EXPECT_EQ(m.TakeDue(46), "OVER\r");
    EXPECT_EQ(m.Stats().dumpsCompleted, 0);
    m.Receive("ACK\r", Fast, true, 50);
    EXPECT_EQ(m.Stats().dumpsCompleted, 1);
    EXPECT_FALSE(m.NextDue());

    // Back to waiting: a stray ACK means nothing, a new request starts a new dump.
    m.Receive("ACK\r", Fast, true, 60);
    EXPECT_EQ(m.Stats().strayLines, (std::vector<ByteString>{"ACK"}));
    m.Receive("READ\r", Fast, true, 70);
    EXPECT_EQ(m.TakeDue(102), "ACK\r" + Rec(0, "abc"));
    EXPECT_EQ(m.Stats().records[0].sendings, 1);
}

TEST(DeviceModel, RequestMidDumpStartsAgainFromTheFirstRecord) {
    DeviceModel m(ThreeRecords());
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(2), "ACK\r");
    m.Receive("READ\r", Fast, true, 10); // the first record, due at 32, never goes
    EXPECT_EQ(m.TakeDue(12), "ACK\r");
    EXPECT_EQ(m.TakeDue(41), "");
    EXPECT_EQ(m.TakeDue(42), Rec(0, "abc"));
    EXPECT_EQ(m.Stats().requestsAnswered, 2);
}

TEST(DeviceModel, RestartKeepsWhatWasAlreadyDue) {
    // The driver hands the program's bytes over before taking what is due at that moment.
    DeviceModel m(ThreeRecords());
    m.Receive("LOAD\r", Fast, true, 0);
    m.Receive("READ\r", Fast, true, 2);
    EXPECT_EQ(m.TakeDue(4), "ACK\rACK\r");
}

TEST(DeviceModel, OutOfDumpModeAnswersProbesButNotRequests) {
    DeviceConfig c = ThreeRecords();
    c.dumpMode = false;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_FALSE(m.NextDue());
    m.Receive("\x0F", Fast, false, 10);
    EXPECT_EQ(m.TakeDue(11), "\x0F");
    m.SetDumpMode(true);
    m.Receive("LOAD\r", Fast, true, 20);
    EXPECT_EQ(m.TakeDue(22), "ACK\r");
    EXPECT_EQ(m.Stats().requestsReceived, 2);
    EXPECT_EQ(m.Stats().requestsAnswered, 1);
}

// --- faults ---

TEST(DeviceFaults, BadChecksumOnceSpoilsOnlyTheFirstSending) {
    DeviceConfig c = ThreeRecords();
    c.badChecksum.once = {1};
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    m.TakeDue(32);
    m.Receive("ACK\r", Fast, true, 40);
    ByteString bad = m.TakeDue(41);
    ByteString good = Rec(1, "12;34");
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_EQ(bad.substr(0, 6), good.substr(0, 6)); // counting byte and payload
    EXPECT_NE(bad[6], good[6]);
    EXPECT_NE(bad[7], good[7]);
    EXPECT_EQ(bad.back(), '\r');
    m.Receive("NAK\r", Fast, true, 50);
    EXPECT_EQ(m.TakeDue(51), good);
}

TEST(DeviceFaults, BadChecksumAlwaysSpoilsEverySendingAndNeverMakesACr) {
    DeviceConfig c;
    c.payloads = {"\xDC"}; // S = 268: L = 12 would become 13
    c.badChecksum.always = {0};
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(32), "ACK\r0\xDC\x0E\x02\r"s);
    m.Receive("NAK\r", Fast, true, 40);
    EXPECT_EQ(m.TakeDue(41), "0\xDC\x0E\x02\r"s);
}

TEST(DeviceFaults, MissingCrOnceAndAlways) {
    DeviceConfig c = ThreeRecords();
    c.missingCr.once = {0};
    c.missingCr.always = {1};
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    ByteString first = Rec(0, "abc");
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + first.substr(0, first.size() - 1));
    m.Receive("NAK\r", Fast, true, 40);
    EXPECT_EQ(m.TakeDue(41), first);
    m.Receive("ACK\r", Fast, true, 50);
    ByteString second = Rec(1, "12;34");
    second.pop_back();
    EXPECT_EQ(m.TakeDue(51), second);
    m.Receive("NAK\r", Fast, true, 60);
    EXPECT_EQ(m.TakeDue(61), second);
}

TEST(DeviceFaults, SplitRecordComesInTwoPartsWithTheGapBetween) {
    DeviceConfig c = ThreeRecords();
    c.split.once = {0};
    c.splitGapMs = 60;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    ByteString record = Rec(0, "abc"); // 7 bytes: 3, then 4
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + record.substr(0, 3));
    EXPECT_EQ(m.NextDue(), 92);
    EXPECT_EQ(m.TakeDue(91), "");
    EXPECT_EQ(m.TakeDue(92), record.substr(3));
}

TEST(DeviceFaults, NakDuringASplitRecordWaitsForItsRest) {
    DeviceConfig c = ThreeRecords();
    c.split.once = {0};
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    ByteString record = Rec(0, "abc");
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + record.substr(0, 3));
    m.Receive("NAK\r", Fast, true, 50);
    EXPECT_EQ(m.TakeDue(91), "");
    EXPECT_EQ(m.TakeDue(92), record.substr(3) + record);
}

TEST(DeviceFaults, SplitAcknowledgement) {
    DeviceConfig c = ThreeRecords();
    c.splitAck = true;
    c.splitAckGapMs = 15;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(2), "AC");
    EXPECT_EQ(m.TakeDue(16), "");
    EXPECT_EQ(m.TakeDue(17), "K\r");
    EXPECT_EQ(m.TakeDue(46), "");
    EXPECT_EQ(m.TakeDue(47), Rec(0, "abc"));
}

TEST(DeviceFaults, NoiseGoesOutAtItsTimeWhateverTheState) {
    DeviceConfig c = ThreeRecords();
    c.noise = {{5, "zz"}, {40, "\x01\x02"}};
    DeviceModel m(c);
    EXPECT_EQ(m.NextDue(), 5);
    EXPECT_EQ(m.TakeDue(4), "");
    EXPECT_EQ(m.TakeDue(5), "zz");
    m.Receive("LOAD\r", Fast, true, 5);
    EXPECT_EQ(m.TakeDue(39), "ACK\r" + Rec(0, "abc"));
    m.Receive("LOAD\r", Fast, true, 39); // a restart drops its own output, not the noise
    EXPECT_EQ(m.TakeDue(40), "\x01\x02");
}

TEST(DeviceFaults, SilentDeviceSaysNothingButStillCounts) {
    DeviceConfig c = ThreeRecords();
    c.silent = true;
    c.wrongSpeedNoise = "??";
    DeviceModel m(c);
    m.Receive("\x0F", Fast, false, 0);
    m.Receive("\x0F", 9600, false, 0);
    m.Receive("LOAD\r", Fast, true, 10);
    m.Receive("READ\r", Fast, true, 20);
    EXPECT_FALSE(m.NextDue());
    EXPECT_EQ(m.TakeDue(10000), "");
    EXPECT_EQ(m.Stats().requestsReceived, 2);
    EXPECT_EQ(m.Stats().requestsAnswered, 0);
    ASSERT_EQ(m.Stats().probes.size(), 2u);
    EXPECT_FALSE(m.Stats().probes[0].echoed);
}

TEST(DeviceFaults, HangsUpAfterTheGivenNumberOfRecords) {
    DeviceConfig c = ThreeRecords();
    c.hangUpAfterRecords = 1;
    c.noise = {{500, "late"}};
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(32), "ACK\r" + Rec(0, "abc"));
    m.Receive("NAK\r", Fast, true, 40); // resending the same record is fine
    EXPECT_EQ(m.TakeDue(41), Rec(0, "abc"));
    EXPECT_FALSE(m.HungUp());
    m.Receive("ACK\r", Fast, true, 50);
    EXPECT_FALSE(m.HungUp());
    EXPECT_EQ(m.TakeDue(51), "");
    EXPECT_TRUE(m.HungUp());
    EXPECT_FALSE(m.NextDue());
    m.Receive("\x0F", Fast, false, 60);
    EXPECT_EQ(m.TakeDue(1000), "");
    EXPECT_TRUE(m.Stats().probes.empty());
}

TEST(DeviceFaults, HangUpAfterNoRecordStillAcknowledgesTheRequest) {
    DeviceConfig c = ThreeRecords();
    c.hangUpAfterRecords = 0;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(31), "ACK\r");
    EXPECT_FALSE(m.HungUp());
    EXPECT_EQ(m.TakeDue(32), "");
    EXPECT_TRUE(m.HungUp());
}

TEST(DeviceFaults, HangUpInsteadOfOver) {
    DeviceConfig c = ThreeRecords();
    c.payloads.resize(1);
    c.hangUpAfterRecords = 1;
    DeviceModel m(c);
    m.Receive("LOAD\r", Fast, true, 0);
    m.TakeDue(32);
    m.Receive("ACK\r", Fast, true, 40);
    EXPECT_EQ(m.TakeDue(41), "");
    EXPECT_TRUE(m.HungUp());
    EXPECT_EQ(m.Stats().accepted.size(), 1u);
}

// --- CTS ---

TEST(DeviceCts, RaisedAtItsTimeAndDroppedAfterTheDump) {
    DeviceConfig c = ThreeRecords();
    c.payloads.resize(1);
    c.raiseCtsAtMs = 50;
    DeviceModel m(c);
    EXPECT_FALSE(m.CtsOut());
    EXPECT_EQ(m.NextDue(), 50);
    m.TakeDue(49);
    EXPECT_FALSE(m.CtsOut());
    EXPECT_EQ(m.TakeDue(50), "");
    EXPECT_TRUE(m.CtsOut());

    m.Receive("LOAD\r", Fast, true, 60);
    m.TakeDue(92);
    m.Receive("ACK\r", Fast, true, 100);
    m.TakeDue(101);
    EXPECT_TRUE(m.CtsOut());
    m.Receive("ACK\r", Fast, true, 110);
    EXPECT_FALSE(m.CtsOut());
}

TEST(DeviceCts, KeptAfterTheDumpWhenAskedAndSetByHand) {
    DeviceConfig c = ThreeRecords();
    c.payloads.clear();
    c.lowerCtsAfterDump = false;
    DeviceModel m(c);
    m.RaiseCts(true);
    m.Receive("LOAD\r", Fast, true, 0);
    EXPECT_EQ(m.TakeDue(32), "ACK\rOVER\r");
    m.Receive("ACK\r", Fast, true, 40);
    EXPECT_EQ(m.Stats().dumpsCompleted, 1);
    EXPECT_TRUE(m.CtsOut());
    m.RaiseCts(false);
    EXPECT_FALSE(m.CtsOut());
}

TEST(DeviceModel, SummaryTellsTheCounts) {
    DeviceConfig c = ThreeRecords();
    c.payloads.resize(1);
    DeviceModel m(c);
    m.Receive("\x0F", Fast, false, 0);
    m.Receive("\x07", 9600, false, 0);
    m.Receive("LOAD\r", Fast, true, 0);
    m.TakeDue(32);
    m.Receive("ACK\r", Fast, true, 40);
    m.Receive("ACK\r", Fast, true, 50);
    std::string s = m.Summary();
    EXPECT_NE(s.find("probes 1 (echoed 1)"), std::string::npos) << s;
    EXPECT_NE(s.find("07@9600?"), std::string::npos) << s;
    EXPECT_NE(s.find("requests 1 (answered 1)"), std::string::npos) << s;
    EXPECT_NE(s.find("dumps completed 1"), std::string::npos) << s;
}

// --- over a virtual line ---

// The program's end of the cable, played by hand in virtual time.
class DeviceOnLine : public ::testing::Test {
protected:
    void Start(DeviceConfig config) {
        driver = std::make_unique<VirtualDeviceDriver>(line, std::move(config));
        ASSERT_EQ(program->Acquire("COM1"), 0);
        SetLine(Fast, true);
    }

    void SetLine(std::uint32_t baud, bool rts) {
        Dcb dcb;
        dcb.BaudRate = baud;
        dcb.Flags = (rts ? 1u : 0u) << Dcb::RtsControlShift;
        ASSERT_EQ(program->SetState(dcb), 0);
    }

    int Send(const ByteString& bytes) {
        auto io = program->NewIo();
        int e = program->StartWrite(*io, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                    static_cast<std::uint32_t>(bytes.size()));
        driver->Step(now);
        return e;
    }

    void Sleep(std::int64_t ms) {
        for (std::int64_t end = now + ms; now < end;)
            driver->Step(++now);
    }

    ByteString Read() { return line->TakeInput(VirtualLine::A); }

    // Reads up to and including CR, waiting at most limitMs.
    ByteString ReadLine(std::int64_t limitMs = 500) {
        ByteString got;
        for (std::int64_t end = now + limitMs; now <= end; Sleep(1)) {
            got += Read();
            if (!got.empty() && got.back() == '\r') return got;
        }
        return got;
    }

    bool ProgramCts() {
        std::uint32_t status = 0;
        EXPECT_EQ(program->GetModemStatus(status), 0);
        return (status & win::MS_CTS_ON) != 0;
    }

    std::shared_ptr<VirtualLine> line = VirtualLine::Create();
    std::unique_ptr<ComDevice> program = line->Device(VirtualLine::A);
    std::unique_ptr<VirtualDeviceDriver> driver;
    std::int64_t now = 0;
};

TEST_F(DeviceOnLine, HoldsTheDeviceEndOfTheLine) {
    Start(DeviceConfig{});
    EXPECT_TRUE(line->IsAcquired(VirtualLine::B));
    EXPECT_EQ(line->AcquiredName(VirtualLine::B), "device");
}

TEST_F(DeviceOnLine, ProbeWakeUpAndAWholeDump) {
    DeviceConfig c = ThreeRecords();
    c.baud = 19200;
    c.needsWakeUp = true;
    c.sendHeader = true;
    Start(c);

    for (std::uint32_t baud : {9600u, 19200u}) {
        SetLine(baud, false);
        Send("\x0F");
        Sleep(100);
        EXPECT_EQ(Read(), baud == 19200 ? "\x0F" : "") << baud;
    }
    for (char b : WakeUp) {
        Send(ByteString(1, b));
        Sleep(100);
    }
    SetLine(Fast, true);

    Send("LOAD\r");
    Sleep(2);
    EXPECT_EQ(Read(), "ACK\r");
    std::vector<ByteString> records;
    while (true) {
        ByteString got = ReadLine();
        ASSERT_FALSE(got.empty());
        if (got == "OVER\r") break;
        records.push_back(got);
        Send("ACK\r");
    }
    Send("ACK\r");

    EXPECT_EQ(records, (std::vector<ByteString>{Rec(0, "#;VELDAR;3", true), Rec(1, "abc", true),
                                                Rec(2, "12;34", true), Rec(3, "x", true)}));
    const auto& s = driver->Model().Stats();
    EXPECT_EQ(s.dumpsCompleted, 1);
    ASSERT_EQ(s.wakeUpBytes.size(), 3u);
    for (const auto& w : s.wakeUpBytes) {
        EXPECT_EQ(w.baud, 19200u);
        EXPECT_FALSE(w.rts);
    }
    ASSERT_EQ(s.probes.size(), 2u);
    EXPECT_EQ(s.probes[0].baud, 9600u);
    EXPECT_FALSE(s.probes[0].echoed);
}

TEST_F(DeviceOnLine, DeliversOnlyWhenDue) {
    DeviceConfig c = ThreeRecords();
    c.ackDelayMs = 40;
    Start(c);
    Send("READ\r");
    Sleep(39);
    EXPECT_EQ(line->InputCount(VirtualLine::A), 0u);
    Sleep(1);
    EXPECT_EQ(Read(), "ACK\r");
    EXPECT_EQ(driver->NextDue(), 70);
}

TEST_F(DeviceOnLine, DeviceCtsWishBecomesTheProgramsCts) {
    DeviceConfig c = ThreeRecords();
    c.payloads.clear();
    c.raiseCtsAtMs = 10;
    Start(c);
    Sleep(9);
    EXPECT_FALSE(ProgramCts());
    Sleep(1);
    EXPECT_TRUE(ProgramCts());
    EXPECT_TRUE(line->Rts(VirtualLine::B));

    Send("LOAD\r");
    EXPECT_EQ(ReadLine(), "ACK\r");
    EXPECT_EQ(ReadLine(), "OVER\r");
    Send("ACK\r");
    EXPECT_FALSE(ProgramCts());
    EXPECT_EQ(line->RtsHistory(VirtualLine::B), (std::vector<bool>{false, true, false}));
}

TEST_F(DeviceOnLine, HangUpUnplugsTheProgramsEnd) {
    DeviceConfig c = ThreeRecords();
    c.hangUpAfterRecords = 1;
    Start(c);
    Send("LOAD\r");
    Sleep(2);
    EXPECT_EQ(Read(), "ACK\r");
    EXPECT_EQ(ReadLine(), Rec(0, "abc"));
    EXPECT_EQ(Send("ACK\r"), 0);
    Sleep(1);
    EXPECT_TRUE(driver->Model().HungUp());
    EXPECT_EQ(Send("ACK\r"), vline::ErrBadCommand);
    Sleep(100);
    EXPECT_EQ(Read(), "");
}

} // namespace
} // namespace veldar::devsim
