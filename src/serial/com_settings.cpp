// The settings objects: each change of a value re-applies the owning port's group.
#include "com_port.h"

namespace veldar {

// --- TComTimeouts ---

void TComTimeouts::Change(int& field, int v) {
    if (field == v) return;
    field = v;
    if (ComPort_) ComPort_->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(int v) {
    Change(ReadInterval_, v);
}
void TComTimeouts::SetReadTotalMultiplier(int v) {
    Change(ReadTotalMultiplier_, v);
}
void TComTimeouts::SetReadTotalConstant(int v) {
    Change(ReadTotalConstant_, v);
}
void TComTimeouts::SetWriteTotalMultiplier(int v) {
    Change(WriteTotalMultiplier_, v);
}
void TComTimeouts::SetWriteTotalConstant(int v) {
    Change(WriteTotalConstant_, v);
}

void TComTimeouts::CopyFrom(const TComTimeouts& other) {
    ReadInterval_ = other.ReadInterval_;
    ReadTotalMultiplier_ = other.ReadTotalMultiplier_;
    ReadTotalConstant_ = other.ReadTotalConstant_;
    WriteTotalMultiplier_ = other.WriteTotalMultiplier_;
    WriteTotalConstant_ = other.WriteTotalConstant_;
}

// --- TComFlowControl ---

template <typename T> void TComFlowControl::Change(T& field, T v) {
    if (field == v) return;
    field = v;
    Apply();
}

void TComFlowControl::Apply() {
    if (ComPort_) ComPort_->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (ControlRTS_ == rtsHandshake && OutCTSFlow_ && !XonXoffIn_ && !XonXoffOut_)
        return fcHardware;
    if (ControlRTS_ == rtsDisable && !OutCTSFlow_ && XonXoffIn_ && XonXoffOut_) return fcSoftware;
    if (ControlRTS_ == rtsDisable && !OutCTSFlow_ && !XonXoffIn_ && !XonXoffOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl kind) {
    switch (kind) {
    case fcHardware:
        ControlRTS_ = rtsHandshake;
        OutCTSFlow_ = true;
        XonXoffIn_ = XonXoffOut_ = false;
        break;
    case fcSoftware:
        ControlRTS_ = rtsDisable;
        OutCTSFlow_ = false;
        XonXoffIn_ = XonXoffOut_ = true;
        break;
    case fcNone:
        ControlRTS_ = rtsDisable;
        OutCTSFlow_ = false;
        XonXoffIn_ = XonXoffOut_ = false;
        break;
    case fcCustom:
        break;
    }
    Apply();
}

void TComFlowControl::SetOutCTSFlow(bool v) {
    Change(OutCTSFlow_, v);
}
void TComFlowControl::SetOutDSRFlow(bool v) {
    Change(OutDSRFlow_, v);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
    Change(ControlDTR_, v);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
    Change(ControlRTS_, v);
}
void TComFlowControl::SetXonXoffOut(bool v) {
    Change(XonXoffOut_, v);
}
void TComFlowControl::SetXonXoffIn(bool v) {
    Change(XonXoffIn_, v);
}
void TComFlowControl::SetDSRSensitivity(bool v) {
    Change(DSRSensitivity_, v);
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
    Change(TxContinueOnXoff_, v);
}
void TComFlowControl::SetXonChar(char v) {
    Change(XonChar_, v);
}
void TComFlowControl::SetXoffChar(char v) {
    Change(XoffChar_, v);
}

void TComFlowControl::CopyFrom(const TComFlowControl& other) {
    OutCTSFlow_ = other.OutCTSFlow_;
    OutDSRFlow_ = other.OutDSRFlow_;
    ControlDTR_ = other.ControlDTR_;
    ControlRTS_ = other.ControlRTS_;
    XonXoffOut_ = other.XonXoffOut_;
    XonXoffIn_ = other.XonXoffIn_;
    DSRSensitivity_ = other.DSRSensitivity_;
    TxContinueOnXoff_ = other.TxContinueOnXoff_;
    XonChar_ = other.XonChar_;
    XoffChar_ = other.XoffChar_;
}

// --- TComParity ---

template <typename T> void TComParity::Change(T& field, T v) {
    if (field == v) return;
    field = v;
    if (ComPort_) ComPort_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits v) {
    Change(Bits_, v);
}
void TComParity::SetCheck(bool v) {
    Change(Check_, v);
}
void TComParity::SetReplace(bool v) {
    Change(Replace_, v);
}
void TComParity::SetReplaceChar(char v) {
    Change(ReplaceChar_, v);
}

void TComParity::CopyFrom(const TComParity& other) {
    Bits_ = other.Bits_;
    Check_ = other.Check_;
    Replace_ = other.Replace_;
    ReplaceChar_ = other.ReplaceChar_;
}

// --- TComBuffer ---

void TComBuffer::Change(int& field, int v) {
    if (field == v) return;
    // The driver takes even sizes only.
    field = (v % 2 != 0) ? v - 1 : v;
    if (ComPort_) ComPort_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int v) {
    Change(InputSize_, v);
}
void TComBuffer::SetOutputSize(int v) {
    Change(OutputSize_, v);
}

void TComBuffer::CopyFrom(const TComBuffer& other) {
    InputSize_ = other.InputSize_;
    OutputSize_ = other.OutputSize_;
}

} // namespace veldar
