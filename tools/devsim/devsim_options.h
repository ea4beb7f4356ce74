// The command line of veldar-devsim.
#pragma once

#include "device_model.h"
#include "usb_adapter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldar::devsim {

struct DevsimOptions {
    DeviceConfig device;
    // Pseudo-terminal (with a COMn link in linkDir when set) or a real serial device.
    std::string linkDir;
    int com = 1;
    std::string devicePath;
    bool pacing = true;
    // The device's output held and released as a USB adapter does; none: straight to the line.
    std::optional<AdapterConfig> adapter;
    bool kick = false;
    std::int64_t kickDelayMs = 500;
    std::optional<std::int64_t> kickEveryMs;
    // After the hang-up, the line comes back this much later (a new pseudo-terminal behind
    // the same link) and the run goes on; none: the run ends at the hang-up.
    std::optional<std::int64_t> backAfterMs;
    int dumps = 1;
    // 0: no limit.
    std::int64_t timeoutMs = 60000;
    bool quiet = false;
};

enum class ParseOutcome { Run, Help, BadUsage };

// Reads the arguments (without the program name), the records file included; on bad usage
// error tells why.
ParseOutcome ParseDevsimOptions(const std::vector<std::string>& args, DevsimOptions& options,
                                std::string& error);

// The --help text.
extern const char DevsimUsage[];

// Payload i (from 1) of a generated dump: "REC000001 ABCDEF..." cut or padded to length.
ByteString GeneratedPayload(int i, std::size_t length);

} // namespace veldar::devsim
