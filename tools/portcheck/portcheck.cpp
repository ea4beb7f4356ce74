// veldar-portcheck: opens a port through VELDAR's port object with the dump settings,
// exchanges a few bytes and prints the line settings and signals. Without an argument it
// plays both ends itself on a pseudo-terminal pair; with a port name ("COM3", "/dev/ttyUSB0")
// it opens that port, sends "LOAD\r" and shows what comes back within a second. With
// --list [FOLDER] it prints the present ports as the port menu shows them, with the COM
// names the links of FOLDER (the program's folder by default) give them.
#include "com_port.h"
#include "config_location.h"
#include "cp1252.h"
#include "port_list.h"
#include "port_names.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace veldar;
using namespace std::chrono_literals;

namespace {

std::string Printable(const ByteString& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

void PrintSettings(TComPort& port) {
    const Dcb dcb = port.BuildDcb();
    const CommTimeouts t = port.BuildTimeouts();
    std::printf("line settings: %u bit/s, %u data bits, parity %u, stop bits code %u, "
                "DTR control %u, RTS control %u, flag word 0x%04X\n",
                dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.DtrControl(),
                dcb.RtsControl(), dcb.Flags);
    std::printf("time-outs: read interval %u, write %u ms per byte + %u ms; buffers %d/%d bytes\n",
                t.ReadIntervalTimeout, t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant,
                port.Buffer().InputSize(), port.Buffer().OutputSize());
}

void PrintSignals(TComPort& port) {
    TLineSignals s = port.QueryModemSignals();
    std::printf("signals: CTS %s, DSR %s, RING %s, RLSD %s; %d byte(s) waiting\n",
                s.Contains(lsCTS) ? "on" : "off", s.Contains(lsDSR) ? "on" : "off",
                s.Contains(lsRing) ? "on" : "off", s.Contains(lsRLSD) ? "on" : "off",
                port.QueryInputCount());
}

// Polls like the dump does: short sleeps between reads that return at once.
ByteString ReceiveFor(TComPort& port, std::chrono::milliseconds total) {
    ByteString all, chunk;
    auto deadline = std::chrono::steady_clock::now() + total;
    while (std::chrono::steady_clock::now() < deadline) {
        if (port.ReceiveText(chunk, 250) > 0)
            all += chunk;
        else if (!all.empty() && all.back() == '\r')
            break;
        std::this_thread::sleep_for(10ms);
    }
    return all;
}

void Configure(TComPort& port) {
    port.SetBaudRate(br115200);
    port.FlowControl().SetControlDTR(dtrEnable);
    port.OnCTSChange = [](TCustomComPort*, bool on) {
        std::printf("event: CTS change, %s\n", on ? "on" : "off");
    };
}

int CheckRealPort(const std::string& name) {
    TComPort port;
    port.SetPort(name);
    Configure(port);
    port.SetConnected(true);
    std::printf("opened %s\n", name.c_str());
    PrintSettings(port);
    PrintSignals(port);
    std::printf("sent %d byte(s): LOAD\\r\n", port.SendText("LOAD\r"));
    std::printf("received: \"%s\"\n", Printable(ReceiveFor(port, 1000ms)).c_str());
    port.SetConnected(false);
    return 0;
}

int CheckPseudoTerminal() {
    int master = -1, slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("veldar-portcheck-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::create_symlink(slaveName, folder / "COM1");
    std::printf("pseudo-terminal %s, linked as %s\n", slaveName, (folder / "COM1").c_str());

    int status = 0;
    try {
        TComPort port(CreatePlatformDevice(folder.string()));
        Configure(port);
        port.SetConnected(true);
        std::printf("opened COM1 through the port object\n");
        PrintSettings(port);
        termios seen{};
        tcgetattr(master, &seen);
        std::printf("the device end sees %s bit/s\n",
                    cfgetospeed(&seen) == B115200 ? "115200" : "another speed");
        PrintSignals(port);

        std::printf("sent %d byte(s): LOAD\\r\n", port.SendText("LOAD\r"));
        char buf[64];
        std::this_thread::sleep_for(50ms);
        ssize_t n = read(master, buf, sizeof buf);
        std::printf("device received: \"%s\"\n",
                    Printable(ByteString(buf, n > 0 ? static_cast<std::size_t>(n) : 0)).c_str());
        const char answer[] = "ACK\r\0x";
        (void)!write(master, answer, sizeof answer - 1);
        std::printf("device answered 6 bytes (a zero byte included)\n");
        PrintSignals(port);
        ByteString got = ReceiveFor(port, 1000ms);
        std::printf("received: \"%s\" (%zu bytes)\n", Printable(got).c_str(), got.size());
        port.SetConnected(false);
        std::printf("closed\n");
        status = got == ByteString("ACK\r\0x", 6) ? 0 : 1;
    } catch (const EComPort& e) {
        std::printf("port error %d: %s\n", e.ErrorCode(), e.what());
        status = 1;
    }
    fs::remove_all(folder);
    close(slave);
    close(master);
    return status;
}

// One line a port: the menu's line, then the device and the USB numbers, tab-separated.
int ListPorts(const std::filesystem::path& linkFolder) {
    auto ports = ListSerialPorts();
    NameLinkedPorts(linkFolder, ports);
    for (const auto& port : ports) {
        std::string line = Cp1252ToUtf8(PortDisplayLine(port)) + "\t" + port.name;
        if (port.vendorId >= 0) {
            char ids[16];
            std::snprintf(ids, sizeof ids, "\t%04x:%04x", static_cast<unsigned>(port.vendorId),
                          static_cast<unsigned>(port.productId));
            line += ids;
        }
        std::printf("%s\n", line.c_str());
    }
    if (ports.empty()) std::fprintf(stderr, "no serial port found\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc > 1 && std::string(argv[1]) == "--list")
            return ListPorts(argc > 2 ? std::filesystem::path(argv[2])
                                      : ProgramFolder(BuiltLayout(), ExecutableFolder()));
        return argc > 1 ? CheckRealPort(argv[1]) : CheckPseudoTerminal();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
