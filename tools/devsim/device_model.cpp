#include "device_model.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace veldar::devsim {

namespace {

constexpr char Cr = '\r';
constexpr char ProbeByte = 0x0F;
constexpr char WakeUpSequence[] = {0x07, '6', 'Q'};
constexpr std::uint32_t AwakeBaud = 115200;

bool IsWakeUpByte(char byte) {
    return std::find(std::begin(WakeUpSequence), std::end(WakeUpSequence), byte) !=
           std::end(WakeUpSequence);
}

// A check value as it goes on the line: its low byte, with CR's value moved out of the way.
char CheckByte(std::uint64_t value) {
    auto b = static_cast<unsigned char>(value & 0xFF);
    return static_cast<char>(b == 13 ? 14 : b);
}

// A check byte that cannot match: one more, still never CR.
char Spoil(char byte) {
    return CheckByte(static_cast<unsigned char>(byte) + 1u);
}

std::string ByteText(char byte) {
    static const char Hex[] = "0123456789ABCDEF";
    auto b = static_cast<unsigned char>(byte);
    return {Hex[b >> 4], Hex[b & 15]};
}

} // namespace

ByteString EncodeRecord(char counting, const ByteString& payload, bool averageRule) {
    std::uint64_t sum = static_cast<unsigned char>(counting);
    for (char c : payload)
        sum += static_cast<unsigned char>(c);
    std::uint64_t k = 1 + payload.size();
    ByteString record(1, counting);
    record += payload;
    if (averageRule) {
        record += CheckByte(k);
        record += CheckByte(sum / k);
    } else {
        record += CheckByte(sum % 256);
        record += CheckByte(sum / 256);
    }
    record += Cr;
    return record;
}

DeviceModel::DeviceModel(DeviceConfig config) : config_(std::move(config)) {
    for (const auto& n : config_.noise)
        Schedule(n.atMs, Kind::Noise, n.bytes);
    if (config_.raiseCtsAtMs) Schedule(*config_.raiseCtsAtMs, Kind::CtsUp);
}

void DeviceModel::Reconnect(std::int64_t nowMs) {
    config_.hangUpAfterRecords.reset();
    hungUp_ = false;
    queue_.clear();
    streamBusyUntil_ = std::numeric_limits<std::int64_t>::min();
    cts_ = false;
    awake_ = false;
    wakeUpProgress_ = 0;
    line_.clear();
    state_ = State::Idle;
    // What fell due while the line was away is lost with it.
    for (const auto& n : config_.noise)
        if (n.atMs >= nowMs) Schedule(n.atMs, Kind::Noise, n.bytes);
    if (config_.raiseCtsAtMs && *config_.raiseCtsAtMs >= nowMs)
        Schedule(*config_.raiseCtsAtMs, Kind::CtsUp);
}

std::uint32_t DeviceModel::CurrentBaud() const {
    return awake_ ? AwakeBaud : config_.baud;
}

void DeviceModel::Schedule(std::int64_t atMs, Kind kind, ByteString bytes) {
    // The device's own output is one stream: nothing overtakes what it queued before.
    if (kind == Kind::Protocol || kind == Kind::HangUp) {
        atMs = std::max(atMs, streamBusyUntil_);
        streamBusyUntil_ = atMs;
    }
    auto at = std::upper_bound(queue_.begin(), queue_.end(), atMs,
                               [](std::int64_t t, const Scheduled& s) { return t < s.atMs; });
    queue_.insert(at, Scheduled{atMs, kind, std::move(bytes)});
}

void DeviceModel::Receive(const ByteString& bytes, std::uint32_t lineBaud, bool programRts,
                          std::int64_t nowMs) {
    if (hungUp_ || bytes.empty()) return;
    if (lineBaud != CurrentBaud()) {
        // Garbage to the device; the log still tells what the program meant to send.
        stats_.bytesNotUnderstood += bytes.size();
        for (char byte : bytes) {
            if (byte == ProbeByte)
                stats_.probes.push_back({nowMs, lineBaud, programRts, false});
            else if (IsWakeUpByte(byte))
                stats_.wakeUpBytes.push_back({nowMs, byte, lineBaud, programRts, false});
        }
        if (!config_.wrongSpeedNoise.empty() && !config_.silent)
            Schedule(nowMs + config_.probeEchoDelayMs, Kind::Noise, config_.wrongSpeedNoise);
        return;
    }
    for (char byte : bytes)
        OnByte(byte, lineBaud, programRts, nowMs);
}

void DeviceModel::OnByte(char byte, std::uint32_t lineBaud, bool programRts, std::int64_t nowMs) {
    if (line_.empty() && byte == ProbeByte) {
        stats_.probes.push_back({nowMs, lineBaud, programRts, !config_.silent});
        if (!config_.silent)
            Schedule(nowMs + config_.probeEchoDelayMs, Kind::Protocol, config_.probeEcho);
        return;
    }
    if (line_.empty() && IsWakeUpByte(byte)) {
        stats_.wakeUpBytes.push_back({nowMs, byte, lineBaud, programRts, true});
        if (byte == WakeUpSequence[wakeUpProgress_])
            ++wakeUpProgress_;
        else
            wakeUpProgress_ = byte == WakeUpSequence[0] ? 1 : 0;
        if (wakeUpProgress_ == std::size(WakeUpSequence)) {
            awake_ = true;
            wakeUpProgress_ = 0;
        }
        return;
    }
    if (byte != Cr) {
        line_ += byte;
        return;
    }
    OnLine(std::exchange(line_, ByteString()), nowMs);
}

void DeviceModel::OnLine(const ByteString& line, std::int64_t nowMs) {
    wakeUpProgress_ = 0;
    if (line == "LOAD" || line == "READ") {
        ++stats_.requestsReceived;
        if (config_.dumpMode && !config_.silent && (awake_ || !config_.needsWakeUp)) {
            ++stats_.requestsAnswered;
            StartDump(nowMs);
        }
        return;
    }
    bool ack = line == "ACK";
    if ((ack || line == "NAK") && state_ == State::AwaitRecordReply) {
        auto& replies = stats_.records[static_cast<std::size_t>(current_)];
        if (ack) {
            ++replies.acks;
            ++stats_.acksReceived;
            stats_.accepted.push_back(dumpPayloads_[static_cast<std::size_t>(current_)]);
            ++current_;
        } else {
            ++replies.naks;
            ++stats_.naksReceived;
        }
        SendCurrent(nowMs + config_.recordDelayMs);
        return;
    }
    if ((ack || line == "NAK") && state_ == State::AwaitOverReply) {
        if (!ack) {
            SendCurrent(nowMs + config_.recordDelayMs);
            return;
        }
        ++stats_.dumpsCompleted;
        state_ = State::Idle;
        if (config_.lowerCtsAfterDump) cts_ = false;
        return;
    }
    stats_.strayLines.push_back(line);
}

void DeviceModel::StartDump(std::int64_t nowMs) {
    // A new request wins over whatever of an earlier dump has not gone out yet.
    std::erase_if(queue_, [nowMs](const Scheduled& s) {
        return s.atMs > nowMs && (s.kind == Kind::Protocol || s.kind == Kind::HangUp);
    });
    streamBusyUntil_ = std::min(streamBusyUntil_, nowMs);
    dumpPayloads_.clear();
    if (config_.sendHeader) {
        auto count = config_.headerCountText.value_or(std::to_string(config_.payloads.size()));
        dumpPayloads_.push_back("#;" + config_.headerName + ";" + count);
    }
    dumpPayloads_.insert(dumpPayloads_.end(), config_.payloads.begin(), config_.payloads.end());
    stats_.records.assign(dumpPayloads_.size(), RecordReplies{});
    current_ = 0;

    std::int64_t at = nowMs + config_.ackDelayMs;
    if (config_.splitAck) {
        Schedule(at, Kind::Protocol, "AC");
        at += config_.splitAckGapMs;
        Schedule(at, Kind::Protocol, "K\r");
    } else {
        Schedule(at, Kind::Protocol, "ACK\r");
    }
    SendCurrent(at + config_.firstRecordDelayMs);
}

void DeviceModel::SendCurrent(std::int64_t atMs) {
    if (config_.hangUpAfterRecords && current_ >= *config_.hangUpAfterRecords) {
        Schedule(atMs, Kind::HangUp);
        state_ = State::Idle;
        return;
    }
    if (current_ == static_cast<int>(dumpPayloads_.size())) {
        Schedule(atMs, Kind::Protocol, "OVER\r");
        state_ = State::AwaitOverReply;
        return;
    }
    auto& replies = stats_.records[static_cast<std::size_t>(current_)];
    const char counting = static_cast<char>('0' + current_ % 10);
    const ByteString& payload = dumpPayloads_[static_cast<std::size_t>(current_)];
    // As the program judges: the average rule after a header, and for a first record that
    // holds "#;" even without one.
    ByteString record = EncodeRecord(counting, payload, true);
    if (!config_.sendHeader && (current_ != 0 || record.find("#;") == ByteString::npos))
        record = EncodeRecord(counting, payload, false);
    std::size_t checkAt = record.size() - 3;
    if (config_.badChecksum.AppliesTo(current_, replies.sendings)) {
        record[checkAt] = Spoil(record[checkAt]);
        record[checkAt + 1] = Spoil(record[checkAt + 1]);
    }
    if (config_.missingCr.AppliesTo(current_, replies.sendings)) record.pop_back();
    if (config_.split.AppliesTo(current_, replies.sendings)) {
        std::size_t half = record.size() / 2;
        Schedule(atMs, Kind::Protocol, record.substr(0, half));
        Schedule(atMs + config_.splitGapMs, Kind::Protocol, record.substr(half));
    } else {
        Schedule(atMs, Kind::Protocol, std::move(record));
    }
    ++replies.sendings;
    state_ = State::AwaitRecordReply;
}

ByteString DeviceModel::TakeDue(std::int64_t nowMs) {
    ByteString out;
    std::size_t taken = 0;
    while (!hungUp_ && taken < queue_.size() && queue_[taken].atMs <= nowMs) {
        auto& item = queue_[taken++];
        switch (item.kind) {
        case Kind::Protocol:
        case Kind::Noise:
            out += item.bytes;
            break;
        case Kind::CtsUp:
            cts_ = true;
            break;
        case Kind::HangUp:
            hungUp_ = true;
            break;
        }
    }
    if (hungUp_)
        queue_.clear();
    else
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
    return out;
}

std::optional<std::int64_t> DeviceModel::NextDue() const {
    if (hungUp_ || queue_.empty()) return std::nullopt;
    return queue_.front().atMs;
}

std::string DeviceModel::Summary() const {
    std::ostringstream s;
    auto onOff = [](bool b) { return b ? "on" : "off"; };
    s << "speed " << CurrentBaud() << (awake_ ? " (awake)" : "") << ", dump mode "
      << onOff(config_.dumpMode) << ", CTS " << onOff(cts_) << (hungUp_ ? ", hung up" : "") << "\n";
    int echoed = 0;
    for (const auto& p : stats_.probes)
        echoed += p.echoed ? 1 : 0;
    s << "probes " << stats_.probes.size() << " (echoed " << echoed << ")\n";
    s << "wake-up bytes";
    for (const auto& w : stats_.wakeUpBytes)
        s << " " << ByteText(w.byte) << "@" << w.baud << (w.rts ? "/RTS" : "")
          << (w.understood ? "" : "?");
    s << "\n";
    s << "requests " << stats_.requestsReceived << " (answered " << stats_.requestsAnswered
      << ")\n";
    s << "record replies: ACK " << stats_.acksReceived << ", NAK " << stats_.naksReceived
      << "; accepted " << stats_.accepted.size() << "\n";
    s << "dumps completed " << stats_.dumpsCompleted << "\n";
    s << "stray lines " << stats_.strayLines.size() << ", bytes not understood "
      << stats_.bytesNotUnderstood << "\n";
    return s.str();
}

} // namespace veldar::devsim
