#include "usb_adapter.h"

#include <algorithm>
#include <utility>

namespace veldar::devsim {

UsbAdapter::UsbAdapter(AdapterConfig config) : config_(config) {
    config_.packetSize = std::max<std::size_t>(config_.packetSize, 1);
}

void UsbAdapter::Add(const ByteString& bytes, std::int64_t nowUs) {
    // A timer that ran out before these bytes came has sent what was held without them.
    Expire(nowUs);
    for (char byte : bytes) {
        if (held_.empty()) firstHeldUs_ = nowUs;
        held_ += byte;
        if (held_.size() == config_.packetSize || (config_.eventChar && byte == EventChar))
            released_ += std::exchange(held_, ByteString());
    }
}

ByteString UsbAdapter::Take(std::int64_t nowUs) {
    Expire(nowUs);
    return std::exchange(released_, ByteString());
}

std::optional<std::int64_t> UsbAdapter::DeadlineUs() const {
    if (held_.empty()) return std::nullopt;
    return firstHeldUs_ + config_.latencyUs;
}

void UsbAdapter::Expire(std::int64_t nowUs) {
    if (!held_.empty() && nowUs >= firstHeldUs_ + config_.latencyUs)
        released_ += std::exchange(held_, ByteString());
}

} // namespace veldar::devsim
