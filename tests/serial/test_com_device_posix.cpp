// The POSIX device through the port object, against a real pseudo-terminal pair: the
// program's end opens the slave through a COMn link, the test plays the device on the master.
#include "com_port.h"
#include "com_thread.h"
#include "low_latency.h"
#include "port_names.h"
#include "pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace veldar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        // The slave stays open here only until the port has it: a pty hangs up when its last
        // slave descriptor closes.
        holdSlave = slave;
        slavePath = name;
        folder = fs::temp_directory_path() /
                 ("veldar-pty-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder);
        fs::create_symlink(slavePath, folder / "COM5");
    }

    void TearDown() override {
        if (holdSlave >= 0) close(holdSlave);
        if (master >= 0) close(master);
        fs::remove_all(folder);
    }

    std::unique_ptr<TComPort> MakePort(const std::string& name = "COM5") {
        auto port = std::make_unique<TComPort>(CreatePlatformDevice(folder.string()));
        port->SetPort(name);
        port->SetBaudRate(br115200);
        port->FlowControl().SetControlDTR(dtrEnable);
        return port;
    }

    // Reads from the master until `count` bytes came or 5 s passed.
    std::string ReadMaster(std::size_t count) {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[512];
                ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

    void WriteMaster(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until the port sees `count` bytes waiting (5 s at most).
    int WaitForInput(TComPort& port, int count) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        int n = 0;
        while ((n = port.QueryInputCount()) < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        return n;
    }

    termios MasterView() {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }

    static inline int counter = 0;
    int master = -1;
    int holdSlave = -1;
    std::string slavePath;
    fs::path folder;
};

TEST(PortNames, ComNamesResolveThroughLinksOrToSerialDevices) {
    auto folder = fs::temp_directory_path() / ("veldar-names-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::create_symlink("/dev/null", folder / "COM3");
    EXPECT_EQ(ResolvePortPath("COM3", folder.string()), (folder / "COM3").string());
    EXPECT_EQ(ResolvePortPath("COM4", folder.string()), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortPath("COM12", ""), "/dev/ttyS11");
    EXPECT_EQ(ResolvePortPath("/dev/ttyUSB0", folder.string()), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortPath("ttyACM0", folder.string()), "/dev/ttyACM0");
    fs::remove_all(folder);
}

TEST_F(PseudoTerminal, OpensRawAtTheChosenSpeedWithNoModemLines) {
    auto port = MakePort();
    std::vector<bool> cts;
    port->OnCTSChange = [&](TCustomComPort*, bool on) { cts.push_back(on); };
    port->SetConnected(true);
    EXPECT_TRUE(port->Connected());
    termios t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | HUPCL | CRTSCTS), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    // A pseudo-terminal has no modem lines: everything reads off, and that is no error.
    EXPECT_TRUE(port->QueryModemSignals().Empty());
    EXPECT_EQ(cts, std::vector<bool>{false});
    port->SetConnected(false);
    EXPECT_FALSE(port->Connected());
}

// A driver with serial flags, played here: a pseudo-terminal has none.
struct FakeSerialFlags {
    int flags = 0;
    int refusal = 0;
    int sets = 0;
} serialFlags;

SerialFlagsCalls FakeSerialFlagsCalls() {
    return {[](int, int& flags) -> int {
                flags = serialFlags.flags;
                return serialFlags.refusal;
            },
            [](int, int flags) -> int {
                if (serialFlags.refusal) return serialFlags.refusal;
                ++serialFlags.sets;
                serialFlags.flags = flags;
                return 0;
            }};
}

TEST_F(PseudoTerminal, LowLatencyWhileOpenThenTheDriversFlagsBack) {
    constexpr int Other = 0x0040;
    for (int refusal : {0, EINVAL}) {
        serialFlags = {Other, refusal, 0};
        TComPort port(CreatePosixDevice(folder.string(), FakeSerialFlagsCalls()));
        port.SetPort("COM5");
        port.SetConnected(true);
        EXPECT_TRUE(port.Connected());
        EXPECT_EQ(serialFlags.flags, refusal ? Other : Other | ASYNC_LOW_LATENCY);
        port.SetConnected(false);
        EXPECT_EQ(serialFlags.flags, Other);
        EXPECT_EQ(serialFlags.sets, refusal ? 0 : 2);
    }
}

TEST_F(PseudoTerminal, WritesReachTheDeviceAndReadsReturnAtOnce) {
    auto port = MakePort();
    port->SetConnected(true);
    EXPECT_EQ(port->SendText("ACK\r"), 4);
    EXPECT_EQ(ReadMaster(4), "ACK\r");

    ByteString text = "x";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->ReceiveText(text, 250), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(text, "");

    std::string sent;
    for (int i = 0; i < 300; ++i)
        sent.push_back(static_cast<char>(i % 256));
    WriteMaster(sent);
    ASSERT_EQ(WaitForInput(*port, 300), 300);
    EXPECT_EQ(port->ReceiveText(text, 250), 250);
    EXPECT_EQ(text, sent.substr(0, 250));
    EXPECT_EQ(port->QueryInputCount(), 50);
    EXPECT_EQ(port->ReceiveText(text, 250), 50);
    EXPECT_EQ(text, sent.substr(250));
}

TEST_F(PseudoTerminal, ASpeedChangeAppliesAtOnceWithoutDiscardingInput) {
    auto port = MakePort();
    port->SetConnected(true);
    WriteMaster("echo\x0f");
    ASSERT_EQ(WaitForInput(*port, 5), 5);
    port->SetBaudRate(br38400);
    port->FlowControl().SetControlRTS(rtsEnable);
    termios t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), B38400);
    ByteString text;
    EXPECT_EQ(port->ReceiveText(text, 250), 5);
    EXPECT_EQ(text, "echo\x0f");
    // Speeds without a termios constant go through the arbitrary-rate interface.
    EXPECT_NO_THROW(port->SetBaudRate(br14400));
    EXPECT_NO_THROW(port->SetBaudRate(br256000));
    // A standard speed after them sets the input speed too (it follows the output speed).
    port->SetBaudRate(br9600);
    t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    const tcflag_t inputSpeed = (t.c_cflag & CIBAUD) >> 16;
    EXPECT_TRUE(inputSpeed == 0 || inputSpeed == B9600) << "input speed bits " << inputSpeed;
}

// With no total write time-out a write lasts until its bytes have left, looking at the
// output queue every few milliseconds. A pseudo-terminal never holds output, so the queue of
// a slow line is played by a seam.
std::atomic<int> outputQueueLooksHeld{0};

} // namespace
} // namespace veldar

extern "C" int ioctl(int fd, unsigned long request, ...) __THROW {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == TIOCOUTQ && veldar::outputQueueLooksHeld > 0) {
        --veldar::outputQueueLooksHeld;
        *static_cast<int*>(arg) = 1;
        return 0;
    }
    return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

namespace veldar {
namespace {

TEST_F(PseudoTerminal, AWriteWithoutTotalTimeOutWaitsUntilTheQueueHasEmptied) {
    auto port = MakePort();
    port->Timeouts().SetWriteTotalMultiplier(0);
    port->Timeouts().SetWriteTotalConstant(0);
    port->SetConnected(true);
    outputQueueLooksHeld = 20;
    // Run aside, so that a write that sleeps for ages fails the test instead of hanging it;
    // the port is then left to the sleeping writer.
    auto result = std::make_shared<std::atomic<int>>(-1);
    TComPort* writer = port.release();
    std::thread([writer, result] { *result = writer->SendText("LOAD\r"); }).detach();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (*result < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(*result, 5);
    EXPECT_EQ(outputQueueLooksHeld, 0);
    EXPECT_EQ(ReadMaster(5), "LOAD\r");
    delete writer;
}

// The device's queue holds the port's input size: a flood of noise is dropped beyond it, so
// the reads of a dump request get through the noise to the answer, as the dump run polls.
TEST_F(PseudoTerminal, AfterAFloodOfNoiseTheNextRequestIsAnswered) {
    auto port = MakePort();
    bool overrun = false;
    port->OnError = [&](TCustomComPort*, TComErrors errors) {
        overrun = overrun || errors.Contains(ceRxOver);
    };
    port->SetConnected(true);
    std::atomic<bool> flooded{false};
    std::thread flood([&] {
        const std::string noise(1 << 20, 'z');
        std::size_t sent = 0;
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (sent < noise.size() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLOUT, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            ssize_t n = write(master, noise.data() + sent, noise.size() - sent);
            if (n > 0) sent += static_cast<std::size_t>(n);
        }
        flooded = sent == noise.size();
    });
    // The port's thread takes the flood in as the line's events are handed over; it is over
    // once the terminal has held nothing for a while.
    auto quietSince = std::chrono::steady_clock::now();
    bool drained = test::PumpUntil([&] {
        int waiting = 0;
        ioctl(holdSlave, FIONREAD, &waiting);
        auto now = std::chrono::steady_clock::now();
        if (!flooded || waiting > 0) quietSince = now;
        return now - quietSince > 200ms;
    });
    flood.join();
    ASSERT_TRUE(flooded);
    ASSERT_TRUE(drained);

    int attempts = 0;
    bool acknowledged = false;
    while (!acknowledged && attempts < 10) {
        ++attempts;
        port->SendText("LOAD\r");
        ASSERT_EQ(ReadMaster(5), "LOAD\r");
        WriteMaster("ACK\r");
        ByteString rx;
        for (int wait = 0; wait <= 50; wait += 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            if (port->ReceiveText(rx, 250) > 0) break;
        }
        acknowledged = rx.find("ACK\r") != ByteString::npos;
    }
    EXPECT_TRUE(acknowledged) << "no answer through the noise in " << attempts << " requests";
    EXPECT_TRUE(overrun) << "the lost bytes were not reported";
}

TEST_F(PseudoTerminal, ASecondOpenerIsRefusedAsBusy) {
    auto first = MakePort();
    first->SetConnected(true);
    auto second = MakePort();
    try {
        second->SetConnected(true);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.OsError(), EBUSY);
    }
    first->SetConnected(false);
    EXPECT_NO_THROW(second->SetConnected(true));
}

TEST_F(PseudoTerminal, MissingOrWrongDevicesGiveCodeOne) {
    fs::create_symlink(folder / "nothing-here", folder / "COM6");
    fs::create_directory(folder / "dir");
    fs::create_symlink(folder / "dir", folder / "COM7");
    std::ofstream(folder / "plain") << "not a terminal";
    fs::create_symlink(folder / "plain", folder / "COM8");
    const std::pair<const char*, int> cases[] = {
        {"COM6", ENOENT}, {"COM7", EISDIR}, {"COM8", ENOTTY}};
    for (auto [name, error] : cases) {
        auto port = MakePort(name);
        try {
            port->SetConnected(true);
            ADD_FAILURE() << name << ": no exception";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), 1) << name;
            EXPECT_EQ(e.OsError(), error) << name;
        }
        EXPECT_FALSE(port->Connected());
    }
}

TEST_F(PseudoTerminal, AHangUpFailsReadsAndWritesWithoutClosingThePort) {
    auto port = MakePort();
    port->SetConnected(true);
    close(master);
    master = -1;
    ByteString text;
    EXPECT_THROW(port->ReceiveText(text, 250), EComPort);
    EXPECT_THROW(port->SendText("LOAD\r"), EComPort);
    EXPECT_TRUE(port->Connected());
    EXPECT_NO_THROW(port->SetConnected(false));
}

TEST_F(PseudoTerminal, TheEventWaitReportsNewBytesOnlyAndEndsAtAStop) {
    auto device = CreatePlatformDevice(folder.string());
    ASSERT_EQ(device->Acquire("COM5"), 0);
    Dcb raw;
    raw.BaudRate = 115200;
    raw.ByteSize = 8;
    raw.Flags = Dcb::fBinary;
    ASSERT_EQ(device->SetState(raw), 0);
    ASSERT_EQ(device->SetEventMask(win::EV_RXCHAR | win::EV_TXEMPTY | win::EV_CTS), 0);
    WriteMaster("abc");
    StopEvent stop;
    std::uint32_t events = 0;
    ASSERT_EQ(device->WaitEvent(events, stop), 0);
    EXPECT_EQ(events, win::EV_RXCHAR);

    // The unread bytes do not report again; a stop from another thread ends the wait.
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.Set();
    });
    EXPECT_EQ(device->WaitEvent(events, stop), ComDevice::WaitStopped);
    stopper.join();

    // A new byte reports again, and a completed write reports the empty output queue.
    StopEvent running;
    WriteMaster("d");
    ASSERT_EQ(device->WaitEvent(events, running), 0);
    EXPECT_EQ(events, win::EV_RXCHAR);
    auto io = device->NewIo();
    const std::uint8_t byte = 0x0F;
    ASSERT_EQ(device->StartWrite(*io, &byte, 1), 0);
    std::uint32_t done = 0;
    ASSERT_EQ(device->WaitIo(*io, done), 0);
    EXPECT_EQ(done, 1u);
    ASSERT_EQ(device->WaitEvent(events, running), 0);
    EXPECT_EQ(events, win::EV_TXEMPTY);
    std::uint32_t errors = 0, waiting = 0;
    ASSERT_EQ(device->ClearError(errors, waiting), 0);
    EXPECT_EQ(waiting, 4u);
    device->Release();
}

TEST_F(PseudoTerminal, ReceivedCharactersReportEachArrivalOnce) {
    auto port = MakePort();
    std::vector<int> counts;
    port->OnRxChar = [&](TCustomComPort*, int count) { counts.push_back(count); };
    port->SetConnected(true);
    WriteMaster("abc");
    EXPECT_TRUE(test::PumpUntil([&] { return !counts.empty() && counts.back() == 3; }));
    // Bytes left unread raise nothing by themselves...
    auto seen = counts.size();
    test::PumpFor(300ms);
    EXPECT_EQ(counts.size(), seen);
    // ...a new byte does, with every byte waiting.
    WriteMaster("d");
    EXPECT_TRUE(test::PumpUntil([&] { return counts.back() == 4; }));
    port->SetConnected(false);
}

TEST_F(PseudoTerminal, AnInputWaitEndsAtAnUnreadCrAndKeepsEveryByteForTheRead) {
    auto port = MakePort();
    // The event thread pulls arriving bytes too: the wait must hear of a CR it pulled.
    port->SetConnected(true);
    std::thread device([&] {
        std::this_thread::sleep_for(5ms);
        WriteMaster("ab");
        std::this_thread::sleep_for(60ms);
        WriteMaster("c\rd");
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port->WaitForInput('\r', 10000));
    auto took = std::chrono::steady_clock::now() - start;
    device.join();
    EXPECT_GE(took, 50ms) << "bytes without a CR ended the wait";
    EXPECT_LT(took, 5s);
    ByteString text;
    port->ReceiveText(text, 250);
    EXPECT_EQ(text, "abc\rd");
    // Read, the CR no longer counts.
    EXPECT_FALSE(port->WaitForInput('\r', 0));
    port->SetConnected(false);
}

TEST_F(PseudoTerminal, AnInputWaitWithoutCrLastsItsStepAsleepAndEndsAtAStop) {
    auto device = CreatePlatformDevice(folder.string());
    ASSERT_EQ(device->Acquire("COM5"), 0);
    bool found = true;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device->WaitForInput('\r', 40, nullptr, found), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    EXPECT_FALSE(found);
    EXPECT_EQ(device->WaitWakeUps(), 0u);

    StopEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        stop.Set();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(device->WaitForInput('\r', 10000, &stop, found), ComDevice::WaitStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    stopper.join();
    device->Release();
}

TEST_F(PseudoTerminal, AnIdleLineWakesNothing) {
    auto port = MakePort();
    port->SetConnected(true);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(port->EventThread()->Loops(), 0u);
    EXPECT_EQ(port->Device().WaitWakeUps(), 0u);
}

// A hang-up is what an unplugged adapter looks like: told once, then the event thread ends
// and nothing wakes any more; the close that follows is quick.
TEST_F(PseudoTerminal, AHangUpIsReportedOnceAsALostPortWithoutSpinning) {
    auto port = MakePort();
    std::vector<int> lost;
    port->OnLost = [&](TCustomComPort*, int error) { lost.push_back(error); };
    port->SetConnected(true);
    close(master);
    master = -1;
    ASSERT_TRUE(test::PumpUntil([&] { return !lost.empty() && port->EventThread()->Ended(); }));
    const auto wakeUps = port->Device().WaitWakeUps();
    std::this_thread::sleep_for(2s);
    SyncQueue::Application().RunPending();
    EXPECT_EQ(lost, std::vector<int>{EIO});
    EXPECT_EQ(port->Device().WaitWakeUps(), wakeUps);
    EXPECT_TRUE(port->Connected());
    auto start = std::chrono::steady_clock::now();
    port->SetConnected(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

} // namespace
} // namespace veldar
