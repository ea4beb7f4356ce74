// veldar-dump: one dump without a window. Opens the port as VELDAR does, wakes the device,
// waits for the device to start a dump (received bytes or CTS), runs it with the same engine
// and saves the capture with the same file rules. Nothing is read from or written to
// VELDAR.ini.
#include "config_location.h"
#include "cp1252.h"
#include "dump_engine.h"
#include "program_texts.h"
#include "sync_queue.h"
#include "terminal_host.h"
#include "terminal_platform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

using namespace veldar;

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void OnSignal(int) {
    stopRequested = true;
}

constexpr char Usage[] = R"(usage: veldar-dump [options]

Runs one dump of the measuring device on a serial port, without a window, and saves the
capture as VELDAR would.

  --port NAME        the port: COMn (as in VELDAR), or a device path such as /dev/ttyUSB0
                     (default COM1)
  --link-dir DIR     the folder where COMn links are looked up (default: this program's
                     folder); COMn is the target of the link DIR/COMn, else /dev/ttyS(n-1)
  --dest DIR         destination folder of the capture (default: this program's folder)
  --auto-name        name the file after the clock (yyyyMMddHHmmss), whatever the device says
  --overwrite        replace an existing file instead of extending it
  --view             open the saved file in the desktop's program for it
  --wait SECONDS     give up when no dump has started after that long (default: wait until
                     interrupted)
  --quiet            print the status only, not the record log
  --stats            print the dump's figures at the end: records, elapsed and slept
                     milliseconds (the protocol's own poll sleeps), times between progress
                     steps (one a record), peak resident size, microseconds spent writing
                     and syncing the journal, and its syncs
  --help             this text

"This program's folder" is the folder of its executable, or, for the installed package,
the user's ~/.config/veldar ($XDG_CONFIG_HOME/veldar), the same folder as VELDAR's.

Each accepted record is written to a journal in this program's folder
(veldar-dump_yyyyMMddHHmmss.journal) before the device is told it arrived; the journal goes
once the capture is saved. One left by a run that was killed or crashed is saved at the next
run as a rescue file (yyyyMMddHHmmss_partiel.txt, the time of that dump) in the destination.

A name the device does not give is asked on the terminal; without a terminal the clock
names the file. SIGINT and SIGTERM stop as quitting VELDAR would: the records accepted so
far are saved in a file of their own.

Exit status: 0 the capture was saved; 1 no complete capture was saved (see the messages:
a rescue file may hold the accepted records); 2 wrong usage; 3 the port could not be opened.
)";

struct Options {
    std::string Port = "COM1";
    std::string LinkDir;
    TerminalOptions Terminal;
    std::optional<double> WaitSeconds;
    bool Stats = false;
};

std::optional<Options> Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        std::optional<std::string> v;
        if (arg == "--help") {
            std::cout << Usage;
            std::exit(0);
        } else if (arg == "--auto-name") {
            o.Terminal.Choices.AutoFileName = true;
        } else if (arg == "--overwrite") {
            o.Terminal.Choices.OverwriteFile = true;
        } else if (arg == "--view") {
            o.Terminal.Choices.ViewFile = true;
        } else if (arg == "--quiet") {
            o.Terminal.Quiet = true;
        } else if (arg == "--stats") {
            o.Stats = true;
        } else if (arg == "--port" && (v = value())) {
            o.Port = *v;
        } else if (arg == "--link-dir" && (v = value())) {
            o.LinkDir = *v;
        } else if (arg == "--dest" && (v = value())) {
            o.Terminal.Choices.DestPath = *v;
        } else if (arg == "--wait" && (v = value())) {
            char* end = nullptr;
            double seconds = std::strtod(v->c_str(), &end);
            if (*end != '\0' || seconds <= 0) return std::nullopt;
            o.WaitSeconds = seconds;
        } else {
            std::cerr << "veldar-dump: unknown or incomplete option " << arg << "\n";
            return std::nullopt;
        }
    }
    return o;
}

// records, elapsed and slept milliseconds, the time of the first and of the last tenth of the
// records, the time from the first record's progress step to the last one's (steps - 1 records
// apart) and the peak resident size.
void PrintStats(const DumpSummary& dump, const TerminalHost& host) {
    const auto& steps = host.StepTimes();
    std::int64_t first = 0, last = 0;
    std::int64_t span = steps.empty() ? 0 : steps.back() - steps.front();
    if (steps.size() >= 20) {
        std::size_t tenth = steps.size() / 10;
        first = steps[tenth] - steps[0];
        last = steps.back() - steps[steps.size() - 1 - tenth];
    }
    std::cout << "stats: records=" << dump.Records << " elapsed_ms=" << dump.ElapsedMs
              << " slept_ms=" << host.SleptMs() << " first_tenth_ms=" << first
              << " last_tenth_ms=" << last << " first_to_last_ms=" << span
              << " steps=" << steps.size() << " peak_kib=" << PeakResidentKib()
              << " journal_write_us=" << dump.JournalWriteUs
              << " journal_sync_us=" << dump.JournalSyncUs << " journal_syncs=" << dump.JournalSyncs
              << std::endl;
}

int Run(const Options& o) {
    // As at VELDAR's start: no dump until the port is open and the device woken.
    bool busy = true;
    TComPort port(CreatePlatformDevice(
        o.LinkDir.empty() ? ProgramFolder(BuiltLayout(), ExecutableFolderPath()).string()
                          : o.LinkDir));
    port.SetPort(o.Port);
    port.SetBaudRate(br115200);
    port.FlowControl().SetControlDTR(dtrEnable);
    TerminalHost host(o.Terminal, stopRequested);
    CaptureFiles files;
    DumpEngine engine(busy, port, host, host, files, [&] { return host.Options(); });
    engine.JournalName = TerminalJournalName;
    // What a killed run left, before anything else: even a run that cannot open its port
    // saves it.
    const ByteString recovered = engine.RecoverJournals();
    if (!recovered.empty()) host.SetStatus(recovered);
    host.OnName = [&](const ByteString& name) { engine.NameConfirmed(name); };
    port.OnRxChar = [&](TCustomComPort* sender, int count) {
        engine.ComPort1RxChar(sender, count);
    };
    port.OnCTSChange = [&](TCustomComPort* sender, bool on) {
        engine.ComPort1CTSChange(sender, on);
    };
    // One dump run per call of this program: a byte or a CTS change after it, even one handed
    // over before the queue has drained or while the port closes, starts no second run whose
    // result would replace the first one's.
    engine.OnFinished = [&] { busy = true; };

    try {
        port.SetConnected(true);
        std::cout << "Port " << o.Port << Cp1252ToUtf8(texts::TerminalPortOpened) << std::endl;
        engine.WakeDevice();
    } catch (const EComPort& e) {
        std::cerr << Cp1252ToUtf8(texts::PortNotOpened) << " (" << o.Port << "): " << e.what()
                  << "\n";
        return 3;
    }
    busy = false;
    std::cout << Cp1252ToUtf8(texts::StatusPutInDump) << std::endl;

    host.ResetSleptMs();
    auto& queue = SyncQueue::Application();
    auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<long long>(o.WaitSeconds.value_or(0) * 1000));
    while (engine.LastDump().End == DumpEnd::NotRun && !stopRequested) {
        if (o.WaitSeconds && std::chrono::steady_clock::now() > deadline) break;
        queue.RunPending();
        // Short slices: a signal cannot wake the queue.
        queue.WaitForWork(std::chrono::milliseconds(50), [] { return stopRequested.load(); });
    }
    port.SetConnected(false);

    const DumpSummary& dump = engine.LastDump();
    if (o.Stats) PrintStats(dump, host);
    // Records no folder took die with this program unless its journal holds them.
    if (const int lost = engine.UnsavedRecords(false); lost > 0)
        std::cerr << Cp1252ToUtf8(std::to_string(lost) + texts::MessageUnsavedLost) << std::endl;
    if (!dump.RescueFile.empty())
        std::cout << Cp1252ToUtf8(texts::TerminalRescueCopy) << dump.RescueFile.string() << "\n";
    switch (dump.End) {
    case DumpEnd::Saved:
        std::cout << Cp1252ToUtf8(texts::TerminalCapture) << dump.File.string() << " ("
                  << dump.Records << Cp1252ToUtf8(texts::TerminalRecords) << std::endl;
        return 0;
    case DumpEnd::NotRun:
        std::cout << Cp1252ToUtf8(stopRequested ? texts::TerminalStoppedBeforeDump
                                                : texts::TerminalNoDump)
                  << std::endl;
        return 1;
    default:
        std::cout << Cp1252ToUtf8(texts::TerminalNoCapture) << std::endl;
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    auto options = Parse(argc, argv);
    if (!options) {
        std::cerr << Usage;
        return 2;
    }
    InstallStopHandler(OnSignal);
    try {
        return Run(*options);
    } catch (const std::exception& e) {
        std::cerr << "veldar-dump: " << e.what() << "\n";
        return 1;
    }
}
