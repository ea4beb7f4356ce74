// Runs a device model behind one end of a virtual line in virtual time: what the program
// wrote goes into the model with the program's speed and RTS level, what the model has due
// comes back, the model's CTS wish becomes the device end's RTS, and a hang-up pulls the
// program's cable.
#pragma once

#include "device_model.h"
#include "virtual_line.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace veldar::devsim {

class VirtualDeviceDriver {
public:
    // Opens the device's end of the line (as "device"); throws std::runtime_error when it
    // cannot.
    VirtualDeviceDriver(std::shared_ptr<VirtualLine> line, DeviceConfig config,
                        VirtualLine::Side deviceSide = VirtualLine::B);

    // One turn at virtual time nowMs. The speed passed to the model is the one the program
    // has set now, so step after each write of the program before it changes speed.
    void Step(std::int64_t nowMs);
    // When the model next has something to do.
    std::optional<std::int64_t> NextDue() const { return model_.NextDue(); }

    DeviceModel& Model() { return model_; }
    const DeviceModel& Model() const { return model_; }

private:
    void ApplyCts();

    std::shared_ptr<VirtualLine> line_;
    VirtualLine::Side deviceSide_;
    VirtualLine::Side programSide_;
    std::unique_ptr<ComDevice> device_;
    DeviceModel model_;
    bool ctsApplied_ = false;
};

} // namespace veldar::devsim
