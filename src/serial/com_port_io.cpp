// Reads and writes of the port object: one blocking call each, with its own in-flight
// record, so a call nested inside another (from a listener that processes messages) does
// not disturb the outer one.
#include "com_port.h"

#include <algorithm>
#include <vector>

namespace veldar {

struct TCustomComPort::PendingIo {
    enum Kind { None, Write, Read };
    // Declared before the record, so a request still pending when an exception leaves the
    // call is ended before the bytes it reads from are freed.
    std::vector<std::uint8_t> WrittenCopy;
    std::unique_ptr<DeviceIo> Io;
    Kind kind = None;
};

int TCustomComPort::SendText(const ByteString& text) {
    PendingIo io;
    io.Io = Device_->NewIo();
    if (!text.empty()) {
        io.kind = PendingIo::Write;
        io.WrittenCopy.assign(text.begin(), text.end());
        if (int e = Device_->StartWrite(*io.Io, io.WrittenCopy.data(),
                                        static_cast<std::uint32_t>(io.WrittenCopy.size())))
            throw EComPort(CError_WriteFailed, e);
        SignalLinks(&TComLink::OnTxSignal, true);
    }
    return WaitPendingIo(io);
}

int TCustomComPort::ReceiveText(ByteString& text, int count) {
    text.assign(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
    int n = Read(reinterpret_cast<std::uint8_t*>(text.data()), count);
    text.resize(static_cast<std::size_t>(n));
    return n;
}

int TCustomComPort::Read(std::uint8_t* buffer, int count) {
    PendingIo io;
    io.Io = Device_->NewIo();
    if (count > 0) {
        io.kind = PendingIo::Read;
        if (int e = Device_->StartRead(*io.Io, buffer, static_cast<std::uint32_t>(count)))
            throw EComPort(CError_ReadFailed, e);
    }
    return WaitPendingIo(io);
}

bool TCustomComPort::WaitForInput(char byte, int milliseconds, const StopEvent* stop) {
    bool found = false;
    int e = Device_->WaitForInput(static_cast<std::uint8_t>(byte), std::max(milliseconds, 0), stop,
                                  found);
    return e == 0 && found;
}

int TCustomComPort::WaitPendingIo(PendingIo& io) {
    std::uint32_t done = 0;
    if (int e = Device_->WaitIo(*io.Io, done))
        throw EComPort(io.kind == PendingIo::Write ? CError_WriteFailed : CError_ReadFailed, e);
    if (io.kind == PendingIo::Read) {
        if (QueryInputCount() == 0) SignalLinks(&TComLink::OnRxSignal, false);
    } else if (!io.WrittenCopy.empty()) {
        BytesLinks(&TComLink::OnTxBytes, io.WrittenCopy.data(),
                   static_cast<int>(io.WrittenCopy.size()));
    }
    return static_cast<int>(done);
}

} // namespace veldar
