// The receive side of a USB serial adapter (FTDI style) as a pure model in virtual time:
// bytes from the device's serial line are held in the chip and go to the computer only as
// a whole packet, when the event character passes (if enabled), or once the latency timer
// has run out since the first byte held. The simulator puts it between the device's paced
// output and the pseudo-terminal.
#pragma once

#include "com_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace veldar::devsim {

struct AdapterConfig {
    std::int64_t latencyUs = 16000;
    // Data bytes of one USB packet (64 less the chip's two status bytes).
    std::size_t packetSize = 62;
    // CR releases what is held, up to and including it.
    bool eventChar = false;
};

class UsbAdapter {
public:
    static constexpr char EventChar = '\r';

    explicit UsbAdapter(AdapterConfig config);

    // Bytes from the serial line, arrived at nowUs. Take what they released at once.
    void Add(const ByteString& bytes, std::int64_t nowUs);
    // What goes to the computer at nowUs, in order: packets and runs up to the event
    // character already released, then everything held once the latency has run out.
    ByteString Take(std::int64_t nowUs);
    // When the bytes held go at the latest; none while nothing is held.
    std::optional<std::int64_t> DeadlineUs() const;
    bool Empty() const { return held_.empty() && released_.empty(); }

private:
    void Expire(std::int64_t nowUs);

    AdapterConfig config_;
    ByteString held_;
    ByteString released_;
    std::int64_t firstHeldUs_ = 0;
};

} // namespace veldar::devsim
