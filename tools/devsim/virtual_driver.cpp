#include "virtual_driver.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace veldar::devsim {

VirtualDeviceDriver::VirtualDeviceDriver(std::shared_ptr<VirtualLine> line, DeviceConfig config,
                                         VirtualLine::Side deviceSide)
    : line_(std::move(line)), deviceSide_(deviceSide),
      programSide_(deviceSide == VirtualLine::A ? VirtualLine::B : VirtualLine::A),
      device_(line_->Device(deviceSide)), model_(std::move(config)) {
    if (int e = device_->Acquire("device"))
        throw std::runtime_error("device end of the line: acquire failed, error " +
                                 std::to_string(e));
}

void VirtualDeviceDriver::Step(std::int64_t nowMs) {
    if (model_.HungUp()) return;
    ByteString sent = line_->TakeInput(deviceSide_);
    if (!sent.empty())
        model_.Receive(sent, line_->LastState(programSide_).BaudRate, line_->Rts(programSide_),
                       nowMs);
    ByteString due = model_.TakeDue(nowMs);
    if (!due.empty()) line_->Deliver(programSide_, due);
    ApplyCts();
    if (model_.HungUp()) line_->SetUnplugged(programSide_, true);
}

void VirtualDeviceDriver::ApplyCts() {
    bool wanted = model_.CtsOut();
    if (wanted == ctsApplied_) return;
    Dcb dcb;
    dcb.Flags = (wanted ? 1u : 0u) << Dcb::RtsControlShift;
    // A refused change is tried again on the next step.
    if (device_->SetState(dcb) == 0) ctsApplied_ = wanted;
}

} // namespace veldar::devsim
