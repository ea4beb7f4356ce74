#include "devsim_options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace veldar::devsim {

const char DevsimUsage[] = R"(usage: veldar-devsim [options]

Plays the field device in real time on the far end of a serial line, for VELDAR or
veldar-dump to dump from. Prints the line first ("slave: /dev/pts/N" for a pseudo-terminal,
"device: PATH" for a serial device), then what it receives ("rx") and sends ("tx"), then a
summary.

Line:
  --link-dir DIR        make DIR/COMn a link to the pseudo-terminal (removed at exit), so
                        that VELDAR looking for links in DIR finds the device on COMn
  --com N               the n of that link (default 1)
  --device PATH         a serial device instead of a pseudo-terminal, opened raw at the
                        device's speed
  --no-pacing           send as fast as the line takes bytes; by default the device's bytes
                        go out at its speed, 10 bits a byte
  --adapter-latency MS  play a USB serial adapter between the device and the line: its
                        bytes are held and go out together once MS ms have passed since the
                        first one held, or a packet is full, or (with --adapter-event-char)
                        a CR passes
  --adapter-packet N    the adapter's packet, in data bytes (default 62)
  --adapter-event-char  a CR releases what the adapter holds, up to and including it

Records:
  --records FILE        one payload a line (line ends stripped)
  --generate COUNT      COUNT payloads "REC000001 ABC..." (default: 10, unless --records)
  --length N            length of the generated payloads (default 16)
  --header NAME         send the header "#;NAME;COUNT" first; records then carry the average
                        checksum rule, without a header the sum rule (but the average
                        rule for a first record holding "#;", as the program judges it)
  --header-count TEXT   the count the header announces (default: the number of payloads)

Device:
  --baud N              the speed it answers probes and wake-up at (default 115200; 115200
                        after a wake-up)
  --needs-wakeup        ignore requests until woken (0x07, '6', 'Q' at its speed)

Faults (I: index of a record in the dump, 0 the first sent, which is the header if any):
  --bad-checksum I[,I...]         spoil the check bytes, first sending only
  --bad-checksum-always I[,I...]  spoil them on every sending
  --missing-cr I[,I...]           leave out the final CR, first sending only
  --split I[,I...]                send in two halves, first sending only
  --split-gap MS                  between the halves (default 60)
  --split-ack                     acknowledge a request as "AC", then "K\r" 10 ms later
  --ack-delay MS                  from a request to its "ACK\r" (default 2)
  --probe-echo-delay MS           from a probe to its echo (default 1; above 100 the
                                  program misses it)
  --noise AT_MS:HEXBYTES          put these bytes on the line AT_MS after the start, whatever
                                  the device is doing (repeatable), e.g. 1500:3F0D
  --silent                        answer nothing at all (noise still goes)
  --hang-up-after N               hang up once N records of a dump went out, then exit
  --unplug-after N                the same
  --back-after MS                 after the hang-up, do not exit: the link is removed and
                                  MS ms later points to a new pseudo-terminal where the
                                  device serves again as at the start (the hang-up comes only
                                  once; --dumps and --timeout count across); with N = 0 the
                                  hang-up comes as soon as the line is there

Start of a dump:
  --kick                send '?' so that the program starts a dump
  --kick-delay MS       the first kick this long after the start (default 500; implies
                        --kick)
  --kick-every SECONDS  kick again this often (implies --kick)
                        A kick waits until nothing went either way for 300 ms.

Run:
  --dumps N             exit once N dumps were completed (default 1)
  --timeout SECONDS     give up after that long (default 60; 0: never)
  --quiet               print only the line and the summary
  --help                this text

On a pseudo-terminal the program's RTS cannot be seen: the device takes it as low.
SIGINT and SIGTERM end the run (link removed, summary printed).

Exit status: 0 the dumps were completed; 1 they were not (time-out, hang-up, interrupted,
error); 2 wrong usage.
)";

namespace {

bool ParseInt(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& out) {
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
    out = v;
    return true;
}

bool ParseSeconds(const std::string& text, std::int64_t& ms) {
    if (text.empty()) return false;
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > 1e6) return false;
    ms = std::llround(seconds * 1000);
    return true;
}

bool ParseIndexList(const std::string& text, std::set<int>& out) {
    std::size_t at = 0;
    while (true) {
        std::size_t comma = text.find(',', at);
        std::int64_t index = 0;
        if (!ParseInt(text.substr(at, comma - at), 0, 1000000, index)) return false;
        out.insert(static_cast<int>(index));
        if (comma == std::string::npos) return true;
        at = comma + 1;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseNoise(const std::string& text, Noise& noise) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    if (!ParseInt(text.substr(0, colon), 0, INT64_C(1) << 40, noise.atMs)) return false;
    std::string hex = text.substr(colon + 1);
    if (hex.empty() || hex.size() % 2 != 0) return false;
    noise.bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        noise.bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool ReadRecords(const std::string& path, std::vector<ByteString>& payloads) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        payloads.push_back(line);
    }
    return !in.bad();
}

} // namespace

ByteString GeneratedPayload(int i, std::size_t length) {
    char number[16];
    std::snprintf(number, sizeof number, "REC%06d", i);
    ByteString payload = number;
    if (payload.size() < length) payload += ' ';
    for (std::size_t k = 0; payload.size() < length; ++k)
        payload += static_cast<char>('A' + k % 26);
    payload.resize(length);
    return payload;
}

ParseOutcome ParseDevsimOptions(const std::vector<std::string>& args, DevsimOptions& o,
                                std::string& error) {
    DeviceConfig& d = o.device;
    std::optional<std::string> recordsFile;
    std::optional<std::int64_t> generate;
    std::int64_t length = 16;
    bool comGiven = false;
    std::optional<std::int64_t> adapterLatency;
    std::optional<std::int64_t> adapterPacket;
    bool adapterEventChar = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? args[i + 1] : std::string();
        auto bad = [&] {
            error = hasValue ? "bad value for " + arg + ": " + value : arg + " needs a value";
            return ParseOutcome::BadUsage;
        };
        std::int64_t n = 0;

        // Options without a value.
        if (arg == "--help") return ParseOutcome::Help;
        if (arg == "--no-pacing") {
            o.pacing = false;
            continue;
        }
        if (arg == "--needs-wakeup") {
            d.needsWakeUp = true;
            continue;
        }
        if (arg == "--split-ack") {
            d.splitAck = true;
            continue;
        }
        if (arg == "--silent") {
            d.silent = true;
            continue;
        }
        if (arg == "--kick") {
            o.kick = true;
            continue;
        }
        if (arg == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (arg == "--adapter-event-char") {
            adapterEventChar = true;
            continue;
        }

        // Options with one.
        bool ok = hasValue;
        if (arg == "--link-dir") {
            o.linkDir = value;
            ok = ok && !value.empty();
        } else if (arg == "--com") {
            ok = ok && ParseInt(value, 1, 255, n);
            o.com = static_cast<int>(n);
            comGiven = true;
        } else if (arg == "--device") {
            o.devicePath = value;
            ok = ok && !value.empty();
        } else if (arg == "--records") {
            recordsFile = value;
        } else if (arg == "--generate") {
            ok = ok && ParseInt(value, 0, 1000000, n);
            generate = n;
        } else if (arg == "--length") {
            ok = ok && ParseInt(value, 0, 65536, length);
        } else if (arg == "--header") {
            d.sendHeader = true;
            d.headerName = value;
        } else if (arg == "--header-count") {
            d.headerCountText = value;
        } else if (arg == "--baud") {
            ok = ok && ParseInt(value, 1, 100000000, n);
            d.baud = static_cast<std::uint32_t>(n);
        } else if (arg == "--bad-checksum") {
            ok = ok && ParseIndexList(value, d.badChecksum.once);
        } else if (arg == "--bad-checksum-always") {
            ok = ok && ParseIndexList(value, d.badChecksum.always);
        } else if (arg == "--missing-cr") {
            ok = ok && ParseIndexList(value, d.missingCr.once);
        } else if (arg == "--split") {
            ok = ok && ParseIndexList(value, d.split.once);
        } else if (arg == "--split-gap") {
            ok = ok && ParseInt(value, 0, 3600000, d.splitGapMs);
        } else if (arg == "--ack-delay") {
            ok = ok && ParseInt(value, 0, 3600000, d.ackDelayMs);
        } else if (arg == "--probe-echo-delay") {
            ok = ok && ParseInt(value, 0, 3600000, d.probeEchoDelayMs);
        } else if (arg == "--noise") {
            Noise noise;
            ok = ok && ParseNoise(value, noise);
            d.noise.push_back(noise);
        } else if (arg == "--hang-up-after" || arg == "--unplug-after") {
            ok = ok && ParseInt(value, 0, 1000000, n);
            d.hangUpAfterRecords = static_cast<int>(n);
        } else if (arg == "--back-after") {
            ok = ok && ParseInt(value, 0, 3600000, n);
            o.backAfterMs = n;
        } else if (arg == "--adapter-latency") {
            ok = ok && ParseInt(value, 0, 60000, n);
            adapterLatency = n;
        } else if (arg == "--adapter-packet") {
            ok = ok && ParseInt(value, 1, 65536, n);
            adapterPacket = n;
        } else if (arg == "--kick-delay") {
            ok = ok && ParseInt(value, 0, 3600000, o.kickDelayMs);
            o.kick = true;
        } else if (arg == "--kick-every") {
            std::int64_t ms = 0;
            ok = ok && ParseSeconds(value, ms) && ms > 0;
            o.kickEveryMs = ms;
            o.kick = true;
        } else if (arg == "--dumps") {
            ok = ok && ParseInt(value, 1, 1000000, n);
            o.dumps = static_cast<int>(n);
        } else if (arg == "--timeout") {
            ok = ok && ParseSeconds(value, o.timeoutMs);
        } else {
            error = "unknown option " + arg;
            return ParseOutcome::BadUsage;
        }
        if (!ok) return bad();
        ++i;
    }

    if (recordsFile && generate) {
        error = "--records and --generate exclude each other";
        return ParseOutcome::BadUsage;
    }
    if (!o.devicePath.empty() && !o.linkDir.empty()) {
        error = "--link-dir is for the pseudo-terminal, not with --device";
        return ParseOutcome::BadUsage;
    }
    if (comGiven && o.linkDir.empty()) {
        error = "--com needs --link-dir";
        return ParseOutcome::BadUsage;
    }
    if (o.backAfterMs && !d.hangUpAfterRecords) {
        error = "--back-after needs --hang-up-after";
        return ParseOutcome::BadUsage;
    }
    if ((adapterPacket || adapterEventChar) && !adapterLatency) {
        error = "--adapter-packet and --adapter-event-char need --adapter-latency";
        return ParseOutcome::BadUsage;
    }
    if (adapterLatency) {
        AdapterConfig adapter;
        adapter.latencyUs = *adapterLatency * 1000;
        if (adapterPacket) adapter.packetSize = static_cast<std::size_t>(*adapterPacket);
        adapter.eventChar = adapterEventChar;
        o.adapter = adapter;
    }
    if (recordsFile) {
        if (!ReadRecords(*recordsFile, d.payloads)) {
            error = "cannot read the records file " + *recordsFile;
            return ParseOutcome::BadUsage;
        }
    } else {
        int count = static_cast<int>(generate.value_or(10));
        for (int i = 1; i <= count; ++i)
            d.payloads.push_back(GeneratedPayload(i, static_cast<std::size_t>(length)));
    }
    return ParseOutcome::Run;
}

} // namespace veldar::devsim
