// The field device as a pure state machine in virtual time: bytes from the program go in
// with the line speed and RTS level they were sent at, and the device's answers come out
// when their time has come. It knows nothing of any line, so the same model can sit behind
// an in-memory line in tests or a pseudo-terminal in real time.
//
// What the device understands:
// - Its current speed is the configured speed until a wake-up completes, 115200 bit/s
//   after. Bytes sent at any other speed are not understood; they are dropped (probe and
//   wake-up bytes among them are still logged, marked as not understood) and, when
//   wrongSpeedNoise is set, answered with that noise.
// - With nothing gathered towards a line, the bytes 0x0F (probe), 0x07, '6' and 'Q'
//   (wake-up) are commands of their own; every other byte gathers into a line ended by CR.
//   0x07, '6', 'Q' arriving in that order complete the wake-up.
// - Lines: "LOAD"/"READ" ask for a dump (one arriving mid-dump starts it again from the
//   first record, forgetting what was not sent yet); "ACK"/"NAK" answer the record or the
//   "OVER" last sent. Anything else is logged as a stray line.
// - Its answers form one stream: nothing it says overtakes what it queued before (a record
//   resent after a NAK waits for the rest of a split record). Noise is not part of it.
#pragma once

#include "com_types.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace veldar::devsim {

// Records (by index in the dump, the header being 0) a fault applies to: on the first
// sending only, or on every sending.
struct RecordFault {
    std::set<int> once;
    std::set<int> always;

    bool AppliesTo(int index, int previousSendings) const {
        return always.count(index) != 0 || (previousSendings == 0 && once.count(index) != 0);
    }
};

// Bytes put on the line at a fixed virtual time, whatever the device is doing.
struct Noise {
    std::int64_t atMs = 0;
    ByteString bytes;
};

struct DeviceConfig {
    // The speed the device answers probes and wake-up at.
    std::uint32_t baud = 115200;
    // Before a completed wake-up, requests are ignored.
    bool needsWakeUp = false;
    // Out of dump mode the device still answers probes and wake-up but ignores requests.
    bool dumpMode = true;

    std::vector<ByteString> payloads;
    bool sendHeader = false;
    std::string headerName = "VELDAR";
    // The count the header announces; the number of payloads when unset.
    std::optional<std::string> headerCountText;

    // Answer to a probe at the device's speed (must contain 0x0F to count as an echo).
    ByteString probeEcho = "\x0F";
    // Above 100 the program's single read after the probe misses the echo.
    std::int64_t probeEchoDelayMs = 1;
    // Sent (after probeEchoDelayMs) for bytes that arrived at another speed; must not
    // contain 0x0F. Empty: the device stays silent then.
    ByteString wrongSpeedNoise;

    // Request to "ACK\r"; the program gives up after about 275 ms.
    std::int64_t ackDelayMs = 2;
    // Fault: the acknowledgement goes out as "AC", then "K\r" this much later.
    bool splitAck = false;
    std::int64_t splitAckGapMs = 10;
    // End of the acknowledgement to the first record.
    std::int64_t firstRecordDelayMs = 30;
    // Program's ACK or NAK to the next record, the resent one or "OVER\r".
    std::int64_t recordDelayMs = 1;

    // Faults on records. A bad checksum has both check bytes raised by one (13 skipped);
    // a missing CR leaves the record without its final CR; a split record goes out as its
    // first half, then the rest splitGapMs later.
    RecordFault badChecksum;
    RecordFault missingCr;
    RecordFault split;
    std::int64_t splitGapMs = 60;

    // Fault: says nothing at all (no echo, no acknowledgement, no record); noise still goes.
    bool silent = false;
    // Fault: once this many records of a dump went out, the device hangs up instead of
    // sending anything more (0: right after the acknowledgement of the request).
    std::optional<int> hangUpAfterRecords;
    std::vector<Noise> noise;

    // The device raises its RTS (the program's CTS) at this time to ask for a dump.
    std::optional<std::int64_t> raiseCtsAtMs;
    // Drops it again once a dump is done.
    bool lowerCtsAfterDump = true;
};

struct ProbeSeen {
    std::int64_t atMs = 0;
    std::uint32_t baud = 0;
    bool rts = false;
    bool echoed = false;
};

struct WakeUpByteSeen {
    std::int64_t atMs = 0;
    char byte = 0;
    std::uint32_t baud = 0;
    bool rts = false;
    // False when it came at a speed other than the device's.
    bool understood = false;
};

// Replies to one record of the current (or last) dump.
struct RecordReplies {
    int sendings = 0;
    int acks = 0;
    int naks = 0;
};

struct DeviceStats {
    int requestsReceived = 0;
    int requestsAnswered = 0;
    std::vector<ProbeSeen> probes;
    std::vector<WakeUpByteSeen> wakeUpBytes;
    // By record index; starts afresh with every dump.
    std::vector<RecordReplies> records;
    int acksReceived = 0; // to records, over every dump
    int naksReceived = 0;
    int dumpsCompleted = 0;
    // Payloads of the records acknowledged, header included, in order, over every dump.
    std::vector<ByteString> accepted;
    // Lines (without CR) that meant nothing in the state they arrived in.
    std::vector<ByteString> strayLines;
    // Bytes that came at a speed other than the device's.
    std::size_t bytesNotUnderstood = 0;
};

// One record on the line: counting byte, payload, check bytes L and H, CR. Average rule
// (dumps with a header, and a first record holding "#;" in a dump without one): L = k,
// H = S / k; sum rule: L = S % 256, H = S / 256; S being the
// sum of the counting and payload bytes and k their number. A check value above 255 goes
// as its low byte (such a record never passes), and 13 goes as 14 so that CR only ends.
ByteString EncodeRecord(char counting, const ByteString& payload, bool averageRule);

class DeviceModel {
public:
    explicit DeviceModel(DeviceConfig config);

    // Bytes the program sent, at its line speed and RTS level.
    void Receive(const ByteString& bytes, std::uint32_t lineBaud, bool programRts,
                 std::int64_t nowMs);
    // Everything due at or before nowMs, in order. Also applies the hang-up and CTS changes
    // that are due.
    ByteString TakeDue(std::int64_t nowMs);
    // When the next byte, hang-up or CTS change is due.
    std::optional<std::int64_t> NextDue() const;

    bool HungUp() const { return hungUp_; }
    // The line is back after the hang-up: the device starts again as it did at first
    // (asleep, no dump under way, CTS low, noise and a CTS raise still to come kept), with
    // its counts, and does not hang up again.
    void Reconnect(std::int64_t nowMs);
    // The level the device drives on the program's CTS.
    bool CtsOut() const { return cts_; }
    void RaiseCts(bool on) { cts_ = on; }
    void SetDumpMode(bool on) { config_.dumpMode = on; }

    bool Awake() const { return awake_; }
    std::uint32_t CurrentBaud() const;
    const DeviceConfig& Config() const { return config_; }
    const DeviceStats& Stats() const { return stats_; }
    std::string Summary() const;

private:
    enum class Kind { Protocol, Noise, HangUp, CtsUp };
    struct Scheduled {
        std::int64_t atMs;
        Kind kind;
        ByteString bytes;
    };
    enum class State { Idle, AwaitRecordReply, AwaitOverReply };

    void Schedule(std::int64_t atMs, Kind kind, ByteString bytes = {});
    void OnByte(char byte, std::uint32_t lineBaud, bool programRts, std::int64_t nowMs);
    void OnLine(const ByteString& line, std::int64_t nowMs);
    void StartDump(std::int64_t nowMs);
    // Sends the current record, or "OVER\r" after the last, or hangs up.
    void SendCurrent(std::int64_t atMs);

    DeviceConfig config_;
    DeviceStats stats_;
    std::vector<Scheduled> queue_; // ordered by time, then by scheduling
    std::int64_t streamBusyUntil_ = std::numeric_limits<std::int64_t>::min();
    bool hungUp_ = false;
    bool cts_ = false;
    bool awake_ = false;
    std::size_t wakeUpProgress_ = 0;
    ByteString line_;
    State state_ = State::Idle;
    std::vector<ByteString> dumpPayloads_;
    int current_ = 0;
};

} // namespace veldar::devsim
