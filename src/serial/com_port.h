// The serial port object: line settings, open and close, listeners, reads and writes.
// Everything here runs on the caller's thread (the user-interface thread in the program);
// the event thread only waits on the device and hands batches back to that thread.
#pragma once

#include "com_device.h"
#include "com_error.h"
#include "com_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veldar {

class TCustomComPort;
class TComThread;

using TNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort* Sender, int Count)>;
using TRxBufEvent =
    std::function<void(TCustomComPort* Sender, const std::uint8_t* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort* Sender, TComErrors Errors)>;
using TComLostEvent = std::function<void(TCustomComPort* Sender, int OsError)>;

// A listener that follows the port (the signal LEDs). Unassigned callbacks are skipped.
class TComLink {
public:
    std::function<void(TCustomComPort*, bool)> OnConnSignal;
    std::function<void(TCustomComPort*, const std::uint8_t*, int)> OnRxBytes;
    std::function<void(TCustomComPort*, const std::uint8_t*, int)> OnTxBytes;
    std::function<void(TCustomComPort*)> OnTxEmptyPulse;
    std::function<void(TCustomComPort*)> OnRxFlagPulse;
    std::function<void(TCustomComPort*, bool)> OnCTSSignal;
    std::function<void(TCustomComPort*, bool)> OnDSRSignal;
    std::function<void(TCustomComPort*, bool)> OnRLSDSignal;
    std::function<void(TCustomComPort*)> OnRingPulse;
    std::function<void(TCustomComPort*, bool)> OnTxSignal;
    std::function<void(TCustomComPort*, bool)> OnRxSignal;
};

// Settings objects keep a reference back to their port and ask it to re-apply their group
// when a property changes. One made without a port only holds values (for whole-object
// assignment).
class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* port = nullptr) : ComPort_(port) {}
    TComTimeouts(const TComTimeouts&) = delete;
    TComTimeouts& operator=(const TComTimeouts&) = delete;

    int ReadInterval() const { return ReadInterval_; }
    int ReadTotalMultiplier() const { return ReadTotalMultiplier_; }
    int ReadTotalConstant() const { return ReadTotalConstant_; }
    int WriteTotalMultiplier() const { return WriteTotalMultiplier_; }
    int WriteTotalConstant() const { return WriteTotalConstant_; }
    void SetReadInterval(int v);
    void SetReadTotalMultiplier(int v);
    void SetReadTotalConstant(int v);
    void SetWriteTotalMultiplier(int v);
    void SetWriteTotalConstant(int v);
    // Copies every value without applying.
    void CopyFrom(const TComTimeouts& other);

private:
    void Change(int& field, int v);
    TCustomComPort* ComPort_;
    int ReadInterval_ = -1;
    int ReadTotalMultiplier_ = 0;
    int ReadTotalConstant_ = 0;
    int WriteTotalMultiplier_ = 100;
    int WriteTotalConstant_ = 1000;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* port = nullptr) : ComPort_(port) {}
    TComFlowControl(const TComFlowControl&) = delete;
    TComFlowControl& operator=(const TComFlowControl&) = delete;

    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl kind);
    bool OutCTSFlow() const { return OutCTSFlow_; }
    bool OutDSRFlow() const { return OutDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return ControlDTR_; }
    TRTSFlowControl ControlRTS() const { return ControlRTS_; }
    bool XonXoffOut() const { return XonXoffOut_; }
    bool XonXoffIn() const { return XonXoffIn_; }
    bool DSRSensitivity() const { return DSRSensitivity_; }
    bool TxContinueOnXoff() const { return TxContinueOnXoff_; }
    char XonChar() const { return XonChar_; }
    char XoffChar() const { return XoffChar_; }
    void SetOutCTSFlow(bool v);
    void SetOutDSRFlow(bool v);
    void SetControlDTR(TDTRFlowControl v);
    void SetControlRTS(TRTSFlowControl v);
    void SetXonXoffOut(bool v);
    void SetXonXoffIn(bool v);
    void SetDSRSensitivity(bool v);
    void SetTxContinueOnXoff(bool v);
    void SetXonChar(char v);
    void SetXoffChar(char v);
    void CopyFrom(const TComFlowControl& other);

private:
    template <typename T> void Change(T& field, T v);
    void Apply();
    TCustomComPort* ComPort_;
    bool OutCTSFlow_ = false;
    bool OutDSRFlow_ = false;
    TDTRFlowControl ControlDTR_ = dtrDisable;
    TRTSFlowControl ControlRTS_ = rtsDisable;
    bool XonXoffOut_ = false;
    bool XonXoffIn_ = false;
    bool DSRSensitivity_ = false;
    bool TxContinueOnXoff_ = false;
    char XonChar_ = 17;
    char XoffChar_ = 19;
};

class TComParity {
public:
    explicit TComParity(TCustomComPort* port = nullptr) : ComPort_(port) {}
    TComParity(const TComParity&) = delete;
    TComParity& operator=(const TComParity&) = delete;

    TParityBits Bits() const { return Bits_; }
    bool Check() const { return Check_; }
    bool Replace() const { return Replace_; }
    char ReplaceChar() const { return ReplaceChar_; }
    void SetBits(TParityBits v);
    void SetCheck(bool v);
    void SetReplace(bool v);
    void SetReplaceChar(char v);
    void CopyFrom(const TComParity& other);

private:
    template <typename T> void Change(T& field, T v);
    TCustomComPort* ComPort_;
    TParityBits Bits_ = prNone;
    bool Check_ = false;
    bool Replace_ = false;
    char ReplaceChar_ = 0;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* port = nullptr) : ComPort_(port) {}
    TComBuffer(const TComBuffer&) = delete;
    TComBuffer& operator=(const TComBuffer&) = delete;

    int InputSize() const { return InputSize_; }
    int OutputSize() const { return OutputSize_; }
    // An odd size is reduced by one.
    void SetInputSize(int v);
    void SetOutputSize(int v);
    void CopyFrom(const TComBuffer& other);

private:
    void Change(int& field, int v);
    TCustomComPort* ComPort_;
    int InputSize_ = 1024;
    int OutputSize_ = 1024;
};

class TCustomComPort {
public:
    // The port drives the platform's serial device unless given another one.
    TCustomComPort();
    explicit TCustomComPort(std::unique_ptr<ComDevice> device);
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // --- properties ---
    bool Connected() const { return Connected_; }
    void SetConnected(bool value);
    TBaudRate BaudRate() const { return BaudRate_; }
    void SetBaudRate(TBaudRate value);
    int CustomBaudRate() const { return CustomBaudRate_; }
    void SetCustomBaudRate(int value);
    const std::string& Port() const { return Port_; }
    void SetPort(const std::string& value);
    TComParity& Parity() { return Parity_; }
    void SetParity(const TComParity& value);
    TStopBits StopBits() const { return StopBits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return DataBits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return DiscardNull_; }
    void SetDiscardNull(bool value);
    char EventChar() const { return EventChar_; }
    void SetEventChar(char value);
    TComEvents Events() const { return Events_; }
    void SetEvents(TComEvents value) { Events_ = value; }
    TComBuffer& Buffer() { return Buffer_; }
    void SetBuffer(const TComBuffer& value);
    TComFlowControl& FlowControl() { return FlowControl_; }
    void SetFlowControl(const TComFlowControl& value);
    TComTimeouts& Timeouts() { return Timeouts_; }
    void SetTimeouts(const TComTimeouts& value);
    TSyncMethod SyncMethod() const { return SyncMethod_; }
    void SetSyncMethod(TSyncMethod value);

    // --- events ---
    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TNotifyEvent OnRxFlag;
    TComErrorEvent OnError;
    TNotifyEvent OnRx80Full;
    // The device went away under the open port (an unplugged adapter), seen by the event
    // thread, which has ended: the port stays open until its owner closes it.
    TComLostEvent OnLost;

    // --- operations ---
    void OpenPort();
    void ClosePort();
    virtual void AcquireDevice();
    virtual void ReleaseDevice();
    virtual void ApplyAllSettings();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeouts();
    virtual void ApplyBufferSizes();

    int QueryInputCount();
    TLineSignals QueryModemSignals();
    TComErrors QueryLineErrors();
    void AbortPendingIo();
    // Whether a platform error of this port's device means the device is gone.
    bool IsLostError(int osError) const { return osError > 0 && Device_->IsLost(osError); }
    // One look at the open line (after a resume from sleep): true when its device is gone.
    bool LineLost();

    void AttachLink(TComLink* link);
    void DetachLink(TComLink* link);

    // Writes every byte of text and waits until the platform reports the write complete.
    int SendText(const ByteString& text);
    // Replaces text with at most count bytes already received; never waits for data.
    int ReceiveText(ByteString& text, int count);
    // The same read into a caller's buffer.
    int Read(std::uint8_t* buffer, int count);
    // Waits at most milliseconds until the bytes received and not yet read hold byte; true
    // when they do. Reads nothing. A stop ends the wait at once; so does a failing line,
    // which the read that follows reports.
    bool WaitForInput(char byte, int milliseconds, const StopEvent* stop = nullptr);

    // The records handed to the platform, built from the current settings.
    Dcb BuildDcb() const;
    CommTimeouts BuildTimeouts() const;

    // Building from a stored description: while loading, Connected only stores the flag and
    // nothing is applied; EndLoading opens the port when the stored flag was true.
    void BeginLoading() { Loading_ = true; }
    void EndLoading();
    bool Loading() const { return Loading_; }

    // Objects that refer to the port (LEDs) ask to hear of its destruction.
    int AddDestroyObserver(std::function<void()> observer);
    void RemoveDestroyObserver(int id);

    ComDevice& Device() { return *Device_; }
    bool ThreadCreated() const { return ThreadCreated_; }
    // The running event thread, or null.
    const TComThread* EventThread() const { return EventThread_.get(); }

    // Where an open made at the end of loading reports its failure (the application's
    // general error report); by default the message goes to standard error.
    static void SetExceptionReporter(std::function<void(const std::exception&)> reporter);

protected:
    // One per event: calls the handler when one is assigned.
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int count);
    virtual void DoRxBuf(const std::uint8_t* buffer, int count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool onOff);
    virtual void DoDSRChange(bool onOff);
    virtual void DoError(TComErrors errors);
    virtual void DoRLSDChange(bool onOff);
    virtual void DoRx80Full();
    virtual void DoLost(int osError);

    // Starts the event thread at open and stops it at close.
    virtual void CreateEventThread();
    virtual void DestroyEventThread();

private:
    friend class TComThread;
    struct PendingIo;
    using SignalCallback = std::function<void(TCustomComPort*, bool)> TComLink::*;
    using PulseCallback = std::function<void(TCustomComPort*)> TComLink::*;
    using BytesCallback =
        std::function<void(TCustomComPort*, const std::uint8_t*, int)> TComLink::*;
    void SignalLinks(SignalCallback callback, bool level);
    void PulseLinks(PulseCallback callback);
    void BytesLinks(BytesCallback callback, const std::uint8_t* data, int count);

    // Turns a batch of line events into listener calls and events, in a fixed order.
    void DeliverEvents(TComEvents kinds);
    void DeliverLost(int osError);

    template <typename T> void ChangeLine(T& field, T value);
    bool OpeningGone(unsigned opening) const;
    void ReportSignalsAtOpen(unsigned opening);
    void ReportSignal(TLineSignal line, SignalCallback callback,
                      void (TCustomComPort::*event)(bool));
    int WaitPendingIo(PendingIo& io);
    bool Applies() const { return Connected_ && !Loading_; }

    std::unique_ptr<ComDevice> Device_;
    bool Connected_ = false;
    TBaudRate BaudRate_ = br9600;
    int CustomBaudRate_ = 9600;
    std::string Port_ = "COM1";
    TComParity Parity_;
    TStopBits StopBits_ = sbOneStopBit;
    TDataBits DataBits_ = dbEight;
    bool DiscardNull_ = false;
    char EventChar_ = 0;
    TComEvents Events_ = AllComEvents;
    TComBuffer Buffer_;
    TComFlowControl FlowControl_;
    TComTimeouts Timeouts_;
    TSyncMethod SyncMethod_ = smThreadSync;

    bool Loading_ = false;
    bool ThreadCreated_ = false;
    std::unique_ptr<TComThread> EventThread_;
    // The thread a close is waiting for, while it waits.
    TComThread* StoppingThread_ = nullptr;
    // Counts openings, so a batch delivered across a close and reopen stops there.
    unsigned Openings_ = 0;
    // Received bytes stay in the device for the OnRxChar handler to read.
    bool TriggersOnRxChar_ = true;
    bool HasBytesReader_ = false;
    std::vector<TComLink*> Links_;
    std::vector<std::pair<int, std::function<void()>>> DestroyObservers_;
    int NextObserverId_ = 1;
};

// The published form of the port: TCustomComPort holds everything.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace veldar
