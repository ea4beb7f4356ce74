// The dump: the device's request/record protocol, the speed probe and wake-up, and the
// saving of the capture. These are operations of the main window; their logic lives here,
// free of Qt. The engine owns its run; options come down as a value when a run starts, the
// typed name comes down through NameConfirmed, and only what is shown goes up (DumpView).
#pragma once

#include "capture_bytes.h"
#include "capture_files.h"
#include "com_port.h"
#include "dump_journal.h"
#include "dump_options.h"
#include "dump_pump.h"
#include "dump_view.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace veldar {

enum DumpState { dsRunning, dsAborted, dsComplete };

// How a dump run ended, for callers that have no window to read it from.
enum class DumpEnd { NotRun, NoAcknowledgement, Aborted, Saved, NotSaved, Stopped, PortFailed };

struct DumpSummary {
    DumpEnd End = DumpEnd::NotRun;
    int Records = 0;
    std::filesystem::path File;       // the capture file, when saved
    std::filesystem::path RescueFile; // the copy of what could not be saved normally
    std::int64_t ElapsedMs = 0;       // from the start of the run to its end
    int PortError = 0;                // the platform's error of a port failure
    int Unsaved = 0;                  // records no folder took, kept in memory
    std::filesystem::path Journal;    // the journal kept for the next start (no copy was safe)
    // The time spent writing and syncing the journal (steady clock), and the syncs.
    std::int64_t JournalWriteUs = 0;
    std::int64_t JournalSyncUs = 0;
    int JournalSyncs = 0;
};

// What the engine knows of the current or last run. Texts are Windows-1252 bytes.
struct DumpRunState {
    // The bytes of the last read; inside a dump, the whole current record.
    ByteString RxBuffer;
    // The capture file's name; ".txt" is added when saved.
    ByteString FileName;
    // The payloads accepted in the current or last dump, each followed by CR LF.
    CaptureBytes CaptureText;
};

// Records the device was told were received that no folder took (every place full): kept in
// memory until a write succeeds, and forgotten only then.
struct UnsavedCapture {
    ByteString Name; // the rescue copy's name, without ".txt"
    CaptureBytes Text;
    int Records = 0;
    // The run's journal, open and locked so that no recovery copies it meanwhile; it goes once
    // the capture is written and synced, and stays on the disk if the program ends first.
    std::unique_ptr<JournalFile> Journal;
};

struct UnsavedWritten {
    int Records = 0;
    std::filesystem::path LastFile;
};

class DumpEngine {
public:
    // Called when a run starts (and when its capture is saved) for the user's choices.
    using OptionsSource = std::function<DumpOptions()>;

    // busy is the program's one guard: true from start until the port is first opened, then
    // while a dump runs; the dump triggers do nothing while it is true.
    DumpEngine(bool& busy, TCustomComPort& comPort, DumpView& view, DumpPump& pump,
               CaptureFiles& files, OptionsSource options);

    // One whole dump run; with probeFirst the device is searched and woken first.
    void RunDump(bool probeFirst);
    // Finds the speed at which the device answers, wakes it, and leaves the line at
    // 115200 bit/s with RTS on.
    void WakeDevice();
    // True when the device echoed the probe at that speed.
    bool ProbeBaudRate(TBaudRate baud);
    // Settles folder and name, writes the capture; true when written.
    bool SaveCapture();

    // The three dump triggers; each does nothing while a dump runs (Busy).
    void ComPort1RxChar(TCustomComPort* sender, int count);
    void ComPort1CTSChange(TCustomComPort* sender, bool onOff);
    void clCtsDblClick();

    // Saves at once what the running dump has accepted (the session is ending while the dump
    // is further up the stack). Once per dump run; nothing when no dump runs.
    void SaveNow();

    // Writes again the captures that no folder took, each into the destination, the program's
    // folder or the home folder; says in the log what was written. Returns the records
    // written now and the last file.
    UnsavedWritten SaveUnsaved();
    // Writes them again and says how it went: in the status which file took them, or the
    // status and a box that they are still not saved.
    void RetryUnsaved();
    // The records of the captures still waiting for a folder; with journaled false only
    // those that no journal holds either (lost if the program ends).
    int UnsavedRecords(bool journaled = true) const;

    // The name typed in the panel; a run waiting for a name goes on with it.
    void NameConfirmed(const ByteString& name) { state_.FileName = name; }

    // Turns the journals that dead runs left in the program's folder into capture files
    // (rescue names, in the destination or the next folder that takes them) and removes them;
    // a journal that another running program holds is left alone. Each is told in the log;
    // returns the status text of what was recovered, empty when nothing was.
    ByteString RecoverJournals();
    // The name of this program's journals (dump_journal.h).
    std::string JournalName = WindowJournalName;

    const DumpSummary& LastDump() const { return summary_; }
    DumpRunState& Run() { return state_; }
    // True while a dump run is on the stack (Busy is also true before the first connection).
    bool Running() const { return run_ != nullptr; }
    // Called when a dump run has ended, however it ended (an exception included).
    std::function<void()> OnFinished;

private:
    // What one dump run knows about saving what it could not save normally.
    struct RunRecord {
        bool Acknowledged = false;
        bool Complete = false;
        bool Rescued = false;
        bool Stopped = false;
        bool Aborted = false;
        int Records = 0; // accepted, the header left out
    };

    bool RequestPhase(ByteString& requestWord);
    DumpState RecordPhase(RunRecord& run, const LocalTime& start);
    void EndStep(DumpState dumpState, const LocalTime& start, RunRecord& run);
    bool WaitForName(RunRecord* run);
    std::filesystem::path SettledFolder() const;
    std::array<std::filesystem::path, 3> RescueFolders() const;
    void RescueSave(RunRecord& run);
    bool WriteNewFile(const std::filesystem::path& folder, const ByteString& baseName);
    void KeepUnsaved(const ByteString& name, int records);
    // Tells in the status, and in a box, that records are not saved and what to do.
    void TellUnsaved(bool box);
    void StartJournal(const LocalTime& start);
    void JournalAppend(std::string_view bytes, bool payload);
    // A copy of the run's records is on the disk: the journal has served.
    void JournalServed();
    void EndJournal(const RunRecord& run);
    int Receive();
    void TakeOptions();
    void SetProgressMax(int maximum);

    // Bytes asked by every read of the program.
    static constexpr int ReadCount = 250;

    bool& busy_;
    TCustomComPort& port_;
    DumpView& view_;
    DumpPump& pump_;
    CaptureFiles& files_;
    OptionsSource optionsSource_;
    DumpOptions options_;
    DumpRunState state_;
    int position_ = 0;
    int maximum_ = 100;
    RunRecord* run_ = nullptr;
    DumpSummary summary_;
    DumpJournal journal_;
    std::vector<UnsavedCapture> unsaved_;
};

} // namespace veldar
