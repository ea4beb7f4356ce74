// The port object: properties, open and close, listeners and line queries.
#include "com_port.h"

#include "com_thread.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace veldar {

namespace {

void ReportToStandardError(const std::exception& e) {
    std::cerr << e.what() << '\n';
}

std::function<void(const std::exception&)>& ExceptionReporter() {
    static std::function<void(const std::exception&)> reporter = ReportToStandardError;
    return reporter;
}

} // namespace

TCustomComPort::TCustomComPort() : TCustomComPort(CreatePlatformDevice()) {}

TCustomComPort::TCustomComPort(std::unique_ptr<ComDevice> device)
    : Device_(std::move(device)), Parity_(this), Buffer_(this), FlowControl_(this),
      Timeouts_(this) {}

TCustomComPort::~TCustomComPort() {
    try {
        ClosePort();
    } catch (...) {
        // A destructor cannot report; the device is released below all the same.
    }
    DestroyEventThread();
    Device_->Release();
    auto observers = std::move(DestroyObservers_);
    for (auto& [id, observer] : observers)
        observer();
}

void TCustomComPort::SetExceptionReporter(std::function<void(const std::exception&)> reporter) {
    ExceptionReporter() = reporter ? std::move(reporter) : ReportToStandardError;
}

// --- properties ---

void TCustomComPort::SetConnected(bool value) {
    if (Loading_) {
        Connected_ = value;
        return;
    }
    if (value == Connected_) return;
    if (value)
        OpenPort();
    else
        ClosePort();
}

template <typename T> void TCustomComPort::ChangeLine(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyLineSettings();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
    ChangeLine(BaudRate_, value);
}
void TCustomComPort::SetCustomBaudRate(int value) {
    ChangeLine(CustomBaudRate_, value);
}
void TCustomComPort::SetStopBits(TStopBits value) {
    ChangeLine(StopBits_, value);
}
void TCustomComPort::SetDataBits(TDataBits value) {
    ChangeLine(DataBits_, value);
}
void TCustomComPort::SetDiscardNull(bool value) {
    ChangeLine(DiscardNull_, value);
}
void TCustomComPort::SetEventChar(char value) {
    ChangeLine(EventChar_, value);
}

void TCustomComPort::SetPort(const std::string& value) {
    if (value == Port_) return;
    Port_ = value;
    if (Applies()) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetParity(const TComParity& value) {
    Parity_.CopyFrom(value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
    FlowControl_.CopyFrom(value);
    ApplyLineSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
    Buffer_.CopyFrom(value);
    ApplyBufferSizes();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
    Timeouts_.CopyFrom(value);
    ApplyTimeouts();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (value == SyncMethod_) return;
    if (Applies()) throw EComPort(CError_ConnChangeProp);
    SyncMethod_ = value;
}

void TCustomComPort::EndLoading() {
    Loading_ = false;
    if (!Connected_) return;
    Connected_ = false;
    try {
        OpenPort();
    } catch (const std::exception& e) {
        ExceptionReporter()(e);
    }
}

// --- open and close ---

// Listener callbacks and handlers may process messages, so a close, or a close and reopen,
// can run inside an open or a close (a second double-click on the connection LED). The
// latest command wins: the outer one stops as soon as it finds its opening gone.
bool TCustomComPort::OpeningGone(unsigned opening) const {
    return !Connected_ || Openings_ != opening;
}

void TCustomComPort::OpenPort() {
    if (Connected_) return;
    DoBeforeOpen();
    AcquireDevice();
    Connected_ = true;
    const unsigned opening = ++Openings_;
    try {
        ApplyAllSettings();
        ThreadCreated_ = !Events_.Empty();
        if (ThreadCreated_) CreateEventThread();
    } catch (...) {
        // Nothing was reported yet: undone silently, the thread included when it started.
        ThreadCreated_ = false;
        DestroyEventThread();
        ReleaseDevice();
        Connected_ = false;
        throw;
    }
    SignalLinks(&TComLink::OnConnSignal, true);
    if (OpeningGone(opening)) return;
    DoAfterOpen();
    ReportSignalsAtOpen(opening);
}

void TCustomComPort::ReportSignalsAtOpen(unsigned opening) {
    const std::tuple<TLineSignal, SignalCallback, void (TCustomComPort::*)(bool)> reports[] = {
        {lsCTS, &TComLink::OnCTSSignal, &TCustomComPort::DoCTSChange},
        {lsDSR, &TComLink::OnDSRSignal, &TCustomComPort::DoDSRChange},
        {lsRLSD, &TComLink::OnRLSDSignal, &TCustomComPort::DoRLSDChange}};
    for (auto [line, callback, event] : reports) {
        if (OpeningGone(opening)) return;
        bool level;
        try {
            level = QueryModemSignals().Contains(line);
        } catch (const EComPort&) {
            // The device failed after it was acquired: the port is closed again before the
            // failure is reported, so no thread is left over a device nobody holds.
            auto failure = std::current_exception();
            ClosePort();
            std::rethrow_exception(failure);
        }
        SignalLinks(callback, level);
        (this->*event)(level);
    }
}

// Each report reads the line anew: the handler of the previous one may have run for a while.
void TCustomComPort::ReportSignal(TLineSignal line, SignalCallback callback,
                                  void (TCustomComPort::*event)(bool)) {
    bool level = QueryModemSignals().Contains(line);
    SignalLinks(callback, level);
    (this->*event)(level);
}

void TCustomComPort::ClosePort() {
    if (!Connected_) return;
    const unsigned opening = Openings_;
    for (SignalCallback off :
         {&TComLink::OnCTSSignal, &TComLink::OnDSRSignal, &TComLink::OnRLSDSignal}) {
        SignalLinks(off, false);
        if (OpeningGone(opening)) return;
    }
    for (auto event : {&TCustomComPort::DoCTSChange, &TCustomComPort::DoDSRChange,
                       &TCustomComPort::DoRLSDChange}) {
        (this->*event)(false);
        if (OpeningGone(opening)) return;
    }
    DoBeforeClose();
    if (OpeningGone(opening)) return;
    // A device that vanished (an unplugged adapter) refuses the abort; closing its handle
    // ends whatever was in flight anyway, and refusing to close would keep the port, and
    // its name, until the program ends.
    try {
        AbortPendingIo();
    } catch (const EComPort&) {
    }
    ThreadCreated_ = false;
    // The wait for the thread runs the hand-overs it queued, whose handlers may close or
    // reopen the port themselves.
    DestroyEventThread();
    if (OpeningGone(opening)) return;
    ReleaseDevice();
    Connected_ = false;
    SignalLinks(&TComLink::OnConnSignal, false);
    DoAfterClose();
}

void TCustomComPort::AcquireDevice() {
    if (int e = Device_->Acquire(Port_)) throw EComPort(CError_OpenFailed, e);
}

void TCustomComPort::ReleaseDevice() {
    Device_->Release();
}

void TCustomComPort::CreateEventThread() {
    if (SyncMethod_ == smWindowSync)
        throw std::logic_error("The window hand-over (smWindowSync) is not available; use "
                               "smThreadSync");
    EventThread_ = std::make_unique<TComThread>(this);
}

void TCustomComPort::DestroyEventThread() {
    // A thread that an outer close is still waiting for (this close runs from one of its
    // hand-overs, or from a listener inside that wait) must not outlive this close's release
    // of the device: it is finished, or abandoned, here.
    if (StoppingThread_) StoppingThread_->Finish();
    if (!EventThread_) return;
    std::unique_ptr<TComThread> thread = std::move(EventThread_);
    TComThread* outer = std::exchange(StoppingThread_, thread.get());
    thread->Finish();
    StoppingThread_ = outer;
}

void TCustomComPort::DeliverEvents(TComEvents kinds) {
    // A handler may close (or close and reopen) the port; the rest of the batch belonged to
    // the opening that is gone.
    const unsigned opening = Openings_;
    auto stillOpen = [&] { return Connected_ && Openings_ == opening; };

    if (kinds.Contains(evError)) {
        TComErrors errors = QueryLineErrors();
        if (!errors.Empty()) DoError(errors);
    }
    if (kinds.Contains(evRxChar) && stillOpen()) {
        int count = QueryInputCount();
        if (count > 0) SignalLinks(&TComLink::OnRxSignal, true);
        if ((HasBytesReader_ || !TriggersOnRxChar_) && count > 0) {
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
            int n = Read(buffer.data(), count);
            DoRxBuf(buffer.data(), n);
            BytesLinks(&TComLink::OnRxBytes, buffer.data(), n);
            count = 0;
        }
        if (count > 0) DoRxChar(count);
    }
    if (kinds.Contains(evTxEmpty) && stillOpen()) {
        SignalLinks(&TComLink::OnTxSignal, false);
        PulseLinks(&TComLink::OnTxEmptyPulse);
        DoTxEmpty();
    }
    if (kinds.Contains(evBreak) && stillOpen()) DoBreak();
    if (kinds.Contains(evRing) && stillOpen()) {
        PulseLinks(&TComLink::OnRingPulse);
        DoRing();
    }
    if (kinds.Contains(evCTS) && stillOpen())
        ReportSignal(lsCTS, &TComLink::OnCTSSignal, &TCustomComPort::DoCTSChange);
    if (kinds.Contains(evDSR) && stillOpen())
        ReportSignal(lsDSR, &TComLink::OnDSRSignal, &TCustomComPort::DoDSRChange);
    if (kinds.Contains(evRxFlag) && stillOpen()) {
        PulseLinks(&TComLink::OnRxFlagPulse);
        DoRxFlag();
    }
    if (kinds.Contains(evRLSD) && stillOpen())
        ReportSignal(lsRLSD, &TComLink::OnRLSDSignal, &TCustomComPort::DoRLSDChange);
    if (kinds.Contains(evRx80Full) && stillOpen()) DoRx80Full();
}

void TCustomComPort::DeliverLost(int osError) {
    if (Connected_) DoLost(osError);
}

bool TCustomComPort::LineLost() {
    if (!Connected_) return false;
    std::uint32_t errors = 0, count = 0;
    return IsLostError(Device_->ClearError(errors, count));
}

// --- applying settings ---

void TCustomComPort::ApplyAllSettings() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TCustomComPort::ApplyBufferSizes() {
    if (!Applies()) return;
    if (int e = Device_->SetupBuffers(static_cast<std::uint32_t>(Buffer_.InputSize()),
                                      static_cast<std::uint32_t>(Buffer_.OutputSize())))
        throw EComPort(CError_SetupComFailed, e);
}

void TCustomComPort::ApplyLineSettings() {
    if (!Applies()) return;
    if (int e = Device_->SetState(BuildDcb())) throw EComPort(CError_SetStateFailed, e);
}

void TCustomComPort::ApplyTimeouts() {
    if (!Applies()) return;
    if (int e = Device_->SetTimeouts(BuildTimeouts())) throw EComPort(CError_TimeoutsFailed, e);
}

Dcb TCustomComPort::BuildDcb() const {
    Dcb dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = BaudRate_ == brCustom ? static_cast<std::uint32_t>(CustomBaudRate_)
                                         : BaudRateValue(BaudRate_);
    const TComFlowControl& fc = FlowControl_;
    std::uint32_t flags = Dcb::fBinary;
    if (Parity_.Check()) flags |= Dcb::fParity;
    if (fc.OutCTSFlow()) flags |= Dcb::fOutxCtsFlow;
    if (fc.OutDSRFlow()) flags |= Dcb::fOutxDsrFlow;
    flags |= static_cast<std::uint32_t>(fc.ControlDTR()) << Dcb::DtrControlShift;
    if (fc.DSRSensitivity()) flags |= Dcb::fDsrSensitivity;
    if (fc.TxContinueOnXoff()) flags |= Dcb::fTXContinueOnXoff;
    if (fc.XonXoffOut()) flags |= Dcb::fOutX;
    if (fc.XonXoffIn()) flags |= Dcb::fInX;
    bool errorChar = Parity_.Check() && Parity_.Replace();
    if (errorChar) flags |= Dcb::fErrorChar;
    if (DiscardNull_) flags |= Dcb::fNull;
    flags |= static_cast<std::uint32_t>(fc.ControlRTS()) << Dcb::RtsControlShift;
    dcb.Flags = flags;
    dcb.XonLim = static_cast<std::uint16_t>(Buffer_.InputSize() / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.ByteSize = static_cast<std::uint8_t>(5 + static_cast<int>(DataBits_));
    dcb.Parity = static_cast<std::uint8_t>(Parity_.Bits());
    dcb.StopBits = static_cast<std::uint8_t>(StopBits_);
    dcb.XonChar = fc.XonChar();
    dcb.XoffChar = fc.XoffChar();
    dcb.ErrorChar = errorChar ? Parity_.ReplaceChar() : '\0';
    dcb.EvtChar = EventChar_;
    return dcb;
}

CommTimeouts TCustomComPort::BuildTimeouts() const {
    // -1 stands for the largest value.
    auto dword = [](int v) { return static_cast<std::uint32_t>(v); };
    return CommTimeouts{dword(Timeouts_.ReadInterval()), dword(Timeouts_.ReadTotalMultiplier()),
                        dword(Timeouts_.ReadTotalConstant()),
                        dword(Timeouts_.WriteTotalMultiplier()),
                        dword(Timeouts_.WriteTotalConstant())};
}

// --- line queries ---

int TCustomComPort::QueryInputCount() {
    std::uint32_t errors = 0, count = 0;
    if (int e = Device_->ClearError(errors, count)) throw EComPort(CError_ClearComFailed, e);
    return static_cast<int>(count);
}

TLineSignals TCustomComPort::QueryModemSignals() {
    std::uint32_t status = 0;
    if (int e = Device_->GetModemStatus(status)) {
        if (!Device_->IsUnsupported(e)) throw EComPort(CError_ModemStatFailed, e);
        // A driver without modem lines: every line reads off.
        status = 0;
    }
    TLineSignals signals;
    if (status & win::MS_CTS_ON) signals.Include(lsCTS);
    if (status & win::MS_DSR_ON) signals.Include(lsDSR);
    if (status & win::MS_RING_ON) signals.Include(lsRing);
    if (status & win::MS_RLSD_ON) signals.Include(lsRLSD);
    return signals;
}

TComErrors TCustomComPort::QueryLineErrors() {
    std::uint32_t flags = 0, count = 0;
    if (int e = Device_->ClearError(flags, count)) throw EComPort(CError_ClearComFailed, e);
    TComErrors errors;
    if (flags & win::CE_FRAME) errors.Include(ceFrame);
    if ((flags & win::CE_RXPARITY) && Parity_.Check()) errors.Include(ceRxParity);
    if (flags & win::CE_OVERRUN) errors.Include(ceOverrun);
    if (flags & win::CE_BREAK) errors.Include(ceBreak);
    if (flags & win::CE_IOE) errors.Include(ceIO);
    if (flags & win::CE_MODE) errors.Include(ceMode);
    if (flags & win::CE_RXOVER) errors.Include(ceRxOver);
    if (flags & win::CE_TXFULL) errors.Include(ceTxFull);
    return errors;
}

void TCustomComPort::AbortPendingIo() {
    if (int e = Device_->Purge(win::PURGE_TXABORT | win::PURGE_RXABORT))
        throw EComPort(CError_PurgeFailed, e);
}

// --- listeners ---

void TCustomComPort::AttachLink(TComLink* link) {
    if (std::find(Links_.begin(), Links_.end(), link) != Links_.end())
        throw EComPort(CError_RegFailed);
    Links_.push_back(link);
    HasBytesReader_ = std::any_of(Links_.begin(), Links_.end(),
                                  [](TComLink* l) { return static_cast<bool>(l->OnRxBytes); });
}

void TCustomComPort::DetachLink(TComLink* link) {
    auto it = std::find(Links_.begin(), Links_.end(), link);
    if (it == Links_.end()) throw EComPort(CError_RegFailed);
    Links_.erase(it);
    HasBytesReader_ = std::any_of(Links_.begin(), Links_.end(),
                                  [](TComLink* l) { return static_cast<bool>(l->OnRxBytes); });
}

// By index and by copy: a callback may process messages that detach or free a listener.
void TCustomComPort::SignalLinks(SignalCallback callback, bool level) {
    for (std::size_t i = 0; i < Links_.size(); ++i)
        if (auto call = Links_[i]->*callback) call(this, level);
}

void TCustomComPort::PulseLinks(PulseCallback callback) {
    for (std::size_t i = 0; i < Links_.size(); ++i)
        if (auto call = Links_[i]->*callback) call(this);
}

void TCustomComPort::BytesLinks(BytesCallback callback, const std::uint8_t* data, int count) {
    for (std::size_t i = 0; i < Links_.size(); ++i)
        if (auto call = Links_[i]->*callback) call(this, data, count);
}

int TCustomComPort::AddDestroyObserver(std::function<void()> observer) {
    DestroyObservers_.emplace_back(NextObserverId_, std::move(observer));
    return NextObserverId_++;
}

void TCustomComPort::RemoveDestroyObserver(int id) {
    std::erase_if(DestroyObservers_, [id](const auto& entry) { return entry.first == id; });
}

// --- events ---

void TCustomComPort::DoAfterClose() {
    if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::DoAfterOpen() {
    if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
    if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::DoBeforeOpen() {
    if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::DoRxChar(int count) {
    if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::DoRxBuf(const std::uint8_t* buffer, int count) {
    if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::DoTxEmpty() {
    if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
    if (OnBreak) OnBreak(this);
}
void TCustomComPort::DoRing() {
    if (OnRing) OnRing(this);
}
void TCustomComPort::DoRxFlag() {
    if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::DoCTSChange(bool onOff) {
    if (OnCTSChange) OnCTSChange(this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff) {
    if (OnDSRChange) OnDSRChange(this, onOff);
}
void TCustomComPort::DoError(TComErrors errors) {
    if (OnError) OnError(this, errors);
}
void TCustomComPort::DoRLSDChange(bool onOff) {
    if (OnRLSDChange) OnRLSDChange(this, onOff);
}
void TCustomComPort::DoRx80Full() {
    if (OnRx80Full) OnRx80Full(this);
}
void TCustomComPort::DoLost(int osError) {
    if (OnLost) OnLost(this, osError);
}

} // namespace veldar
