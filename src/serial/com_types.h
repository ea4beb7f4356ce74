// Types shared by the serial port object and its platform devices: the line-setting
// enumerations (their ordinal order is the stored form), small enumeration sets, and the
// Windows-shaped records the devices receive.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace veldar {

// Byte strings: every byte value, 0 included, is data.
using ByteString = std::string;

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TLineSignal { lsCTS, lsDSR, lsRing, lsRLSD };

// A set over an enumeration: bit i stands for the value of ordinal i.
template <typename E> class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ |= Bit(v);
    }
    static constexpr EnumSet FromBits(std::uint32_t bits) {
        EnumSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr std::uint32_t Bits() const { return bits_; }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(E v) { bits_ |= Bit(v); }
    constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
    constexpr bool operator==(const EnumSet&) const = default;

private:
    static constexpr std::uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
    std::uint32_t bits_ = 0;
};

using TComEvents = EnumSet<TComEvent>;
using TComErrors = EnumSet<TComError>;
using TLineSignals = EnumSet<TLineSignal>;

inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x3FF);

// Speed in bit/s of a TBaudRate other than brCustom.
std::uint32_t BaudRateValue(TBaudRate rate);

// Platform constants, with the values of the Windows serial interface; the POSIX and
// virtual devices speak the same numbers so the port object has one vocabulary.
namespace win {
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;

inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;
inline constexpr std::uint32_t CE_TXFULL = 0x0100;
inline constexpr std::uint32_t CE_IOE = 0x0400;
inline constexpr std::uint32_t CE_MODE = 0x8000;

inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;
} // namespace win

// The line settings as one record, field for field the Windows DCB (28 bytes there).
struct Dcb {
    // Flag word bits.
    static constexpr std::uint32_t fBinary = 1u << 0;
    static constexpr std::uint32_t fParity = 1u << 1;
    static constexpr std::uint32_t fOutxCtsFlow = 1u << 2;
    static constexpr std::uint32_t fOutxDsrFlow = 1u << 3;
    static constexpr unsigned DtrControlShift = 4;
    static constexpr std::uint32_t fDsrSensitivity = 1u << 6;
    static constexpr std::uint32_t fTXContinueOnXoff = 1u << 7;
    static constexpr std::uint32_t fOutX = 1u << 8;
    static constexpr std::uint32_t fInX = 1u << 9;
    static constexpr std::uint32_t fErrorChar = 1u << 10;
    static constexpr std::uint32_t fNull = 1u << 11;
    static constexpr unsigned RtsControlShift = 12;

    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    std::uint16_t wReserved1 = 0;

    unsigned DtrControl() const { return (Flags >> DtrControlShift) & 3u; }
    unsigned RtsControl() const { return (Flags >> RtsControlShift) & 3u; }
    bool Has(std::uint32_t flag) const { return (Flags & flag) != 0; }
    bool operator==(const Dcb&) const = default;
};

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
    bool operator==(const CommTimeouts&) const = default;
};

} // namespace veldar
