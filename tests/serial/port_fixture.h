// A port object on one end of a virtual line, set up as the program's ComPort1, with a
// journal of every event and listener call in the order they happen.
#pragma once

#include "com_port.h"
#include "virtual_line.h"

#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace veldar {
inline void PrintTo(DeviceCall call, std::ostream* os) {
    *os << DeviceCallName(call);
}
} // namespace veldar

namespace veldar::test {

// The calls of one end, without the event thread's waits (their number depends on timing).
inline std::vector<DeviceCall> CallsWithoutWaits(const VirtualLine& line, VirtualLine::Side side) {
    auto calls = line.Calls(side);
    std::erase(calls, DeviceCall::WaitEvent);
    return calls;
}

class PortOnLine : public ::testing::Test {
protected:
    PortOnLine()
        : line(VirtualLine::Create()), far(line->Device(VirtualLine::B)),
          port(line->Device(VirtualLine::A)) {
        port.SetBaudRate(br115200);
        port.FlowControl().SetControlDTR(dtrEnable);
    }

    // The other end of the cable, opened as a device would hold it.
    void OpenFarEnd(bool rts, bool dtr) {
        ASSERT_EQ(far->Acquire("device"), 0);
        Dcb dcb;
        dcb.Flags = (rts ? 1u : 0u) << Dcb::RtsControlShift | (dtr ? 1u : 0u)
                                                                  << Dcb::DtrControlShift;
        ASSERT_EQ(far->SetState(dcb), 0);
    }

    // Records events and listener calls as short texts ("CTSChange on", "link CTS off"...).
    void StartJournal() {
        auto onoff = [](bool b) { return std::string(b ? " on" : " off"); };
        port.OnBeforeOpen = [this](TCustomComPort*) { journal.push_back("BeforeOpen"); };
        port.OnAfterOpen = [this](TCustomComPort*) { journal.push_back("AfterOpen"); };
        port.OnBeforeClose = [this](TCustomComPort*) { journal.push_back("BeforeClose"); };
        port.OnAfterClose = [this](TCustomComPort*) { journal.push_back("AfterClose"); };
        port.OnCTSChange = [=, this](TCustomComPort*, bool b) {
            journal.push_back("CTSChange" + onoff(b));
        };
        port.OnDSRChange = [=, this](TCustomComPort*, bool b) {
            journal.push_back("DSRChange" + onoff(b));
        };
        port.OnRLSDChange = [=, this](TCustomComPort*, bool b) {
            journal.push_back("RLSDChange" + onoff(b));
        };
        link.OnConnSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link Conn" + onoff(b));
        };
        link.OnCTSSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link CTS" + onoff(b));
        };
        link.OnDSRSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link DSR" + onoff(b));
        };
        link.OnRLSDSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link RLSD" + onoff(b));
        };
        link.OnTxSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link Tx" + onoff(b));
        };
        link.OnRxSignal = [=, this](TCustomComPort*, bool b) {
            journal.push_back("link Rx" + onoff(b));
        };
        link.OnTxBytes = [this](TCustomComPort*, const std::uint8_t* data, int count) {
            journal.push_back("link TxBytes " + std::string(reinterpret_cast<const char*>(data),
                                                            static_cast<std::size_t>(count)));
        };
        port.AttachLink(&link);
    }

    // Declared so that the port is destroyed (and closed) while its listener, journal and
    // far end still exist.
    std::shared_ptr<VirtualLine> line;
    std::vector<std::string> journal;
    TComLink link;
    std::unique_ptr<ComDevice> far;
    TComPort port;
};

} // namespace veldar::test
