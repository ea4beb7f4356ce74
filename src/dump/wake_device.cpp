// The speed search and the wake-up of the device.
#include "dump_engine.h"

#include <array>

namespace veldar {

bool DumpEngine::ProbeBaudRate(TBaudRate baud) {
    port_.SetBaudRate(baud);
    port_.FlowControl().SetControlRTS(rtsDisable);
    port_.SendText("\x0F");
    pump_.Sleep(100);
    pump_.ProcessMessages();
    // One read only: an echo that comes later counts as no answer.
    int n = Receive();
    bool echoed = n > 0 && state_.RxBuffer.find('\x0F') != ByteString::npos;
    port_.FlowControl().SetControlRTS(rtsEnable);
    return echoed;
}

void DumpEngine::WakeDevice() {
    static constexpr std::array<TBaudRate, 5> Speeds = {br9600, br38400, br115200, br57600,
                                                        br19200};
    bool found = false;
    for (TBaudRate speed : Speeds) {
        // A quit does not wait for a device that may never answer.
        if (pump_.StopRequested()) return;
        if (ProbeBaudRate(speed)) {
            found = true;
            break;
        }
    }
    if (!found) {
        port_.SetBaudRate(br115200);
        return;
    }
    // The probe left RTS on: the first assignment changes nothing, the second drops RTS for
    // the wake-up bytes.
    port_.FlowControl().SetControlRTS(rtsEnable);
    port_.FlowControl().SetControlRTS(rtsDisable);
    for (char byte : {'\x07', '\x36', '\x51'}) {
        if (pump_.StopRequested()) return;
        port_.SendText(ByteString(1, byte));
        pump_.Sleep(100);
        pump_.ProcessMessages();
    }
    port_.SetBaudRate(br115200);
    port_.FlowControl().SetControlRTS(rtsEnable);
    pump_.Sleep(100);
    pump_.ProcessMessages();
}

} // namespace veldar
