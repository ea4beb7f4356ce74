// The dump run: requests until the device acknowledges, then record by record until its
// end marker, each record judged and answered.
#include "dump_engine.h"

#include "port_failure.h"

#include "program_texts.h"
#include "record_check.h"
#include "timer_resolution.h"

#include <utility>

namespace veldar {

namespace {

// A dump the host asked to stop: unwinds to RunDump, which returns at once.
struct DumpStopped {};

bool Contains(const ByteString& text, const char* what) {
    return text.find(what) != ByteString::npos;
}

} // namespace

DumpEngine::DumpEngine(bool& busy, TCustomComPort& comPort, DumpView& view, DumpPump& pump,
                       CaptureFiles& files, OptionsSource options)
    : busy_(busy), port_(comPort), view_(view), pump_(pump), files_(files),
      optionsSource_(std::move(options)) {}

int DumpEngine::Receive() {
    return port_.ReceiveText(state_.RxBuffer, ReadCount);
}

void DumpEngine::TakeOptions() {
    if (optionsSource_) options_ = optionsSource_();
}

void DumpEngine::SetProgressMax(int maximum) {
    maximum_ = maximum;
    view_.SetProgressMax(maximum);
}

void DumpEngine::ComPort1RxChar(TCustomComPort*, int) {
    if (busy_) return;
    // The bytes that raised the event are taken away unused.
    Receive();
    RunDump(true);
}

void DumpEngine::ComPort1CTSChange(TCustomComPort*, bool onOff) {
    if (onOff && !busy_) RunDump(false);
}

void DumpEngine::clCtsDblClick() {
    if (!busy_) RunDump(true);
}

void DumpEngine::RunDump(bool probeFirst) {
    busy_ = true;
    TakeOptions();
    FineTimerResolution fineSleeps;
    RunRecord run;
    const LocalTime start = pump_.Now();
    struct CurrentRun {
        DumpEngine& engine;
        const LocalTime& start;
        RunRecord& run;
        ~CurrentRun() {
            engine.EndJournal(run);
            engine.summary_.JournalWriteUs = engine.journal_.WriteUs;
            engine.summary_.JournalSyncUs = engine.journal_.SyncUs;
            engine.summary_.JournalSyncs = engine.journal_.Syncs;
            engine.summary_.ElapsedMs =
                engine.pump_.Now().MillisecondsSinceEpoch() - start.MillisecondsSinceEpoch();
            engine.run_ = nullptr;
            if (engine.OnFinished) engine.OnFinished();
        }
    } current{*this, start, run};
    run_ = &run;
    summary_ = DumpSummary{};
    journal_.WriteUs = journal_.SyncUs = 0;
    journal_.Writes = journal_.Syncs = 0;
    try {
        if (probeFirst) WakeDevice();
        position_ = 0;
        view_.SetProgressPosition(0);
        ByteString requestWord;
        DumpState dumpState = dsRunning;
        if (RequestPhase(requestWord)) {
            run.Acknowledged = true;
            dumpState = RecordPhase(run, start);
        }
        summary_.Records = run.Records;
        EndStep(dumpState, start, run);
    } catch (const DumpStopped&) {
        summary_.Records = run.Records;
        summary_.End = DumpEnd::Stopped;
        RescueSave(run);
    } catch (const EComPort& e) {
        // The adapter is gone or refuses: keep what was accepted, tell why, and let the
        // failure go on to whoever started the dump. Busy stays set until the port reopens.
        summary_.Records = run.Records;
        summary_.End = DumpEnd::PortFailed;
        summary_.PortError = e.OsError();
        RescueSave(run);
        // The user reads what happened in French; the port's own text is for support. Records
        // no folder took are told first: the port's failure is the status that stays.
        view_.AddLogLine(e.what());
        if (summary_.Unsaved > 0) TellUnsaved(true);
        view_.SetStatus(PortFailureText(port_.Port(), e.OsError(), port_.IsLostError(e.OsError())));
        throw;
    }
    busy_ = false;
}

// Requests a dump, "LOAD" and "READ" in turn, ten times at most; true once acknowledged.
bool DumpEngine::RequestPhase(ByteString& requestWord) {
    for (int attempts = 0;;) {
        if (pump_.StopRequested()) throw DumpStopped{};
        pump_.ProcessMessages();
        requestWord = requestWord == "LOAD" ? "READ" : "LOAD";
        // Only the first reads after a request count: what waits from before (a late answer,
        // noise) goes, in the driver and in the device's own queue. Not a read: no trace, no
        // time. A failing port fails the send that follows.
        port_.Device().Purge(win::PURGE_RXCLEAR);
        port_.SendText(requestWord + "\r");
        for (int wait = 0; wait <= 50; wait += 5) {
            pump_.WaitForLineEnd(port_, wait);
            if (Receive() > 0) break;
        }
        // Only the first bytes that come back count: an answer split over two reads is
        // missed, and the next request goes out.
        if (Contains(state_.RxBuffer, "ACK\r")) return true;
        if (++attempts == 10) {
            view_.AddLogLine(texts::LogNoAck);
            return false;
        }
    }
}

DumpState DumpEngine::RecordPhase(RunRecord& run, const LocalTime& start) {
    SetProgressMax(1000);
    int refusals = 0;
    int counter = 0;
    bool headerSeen = false;
    state_.CaptureText.clear();
    state_.FileName.clear();
    view_.ShowFromTray();
    view_.ClearLog();
    StartJournal(start);

    DumpState dumpState = dsRunning;
    while (dumpState == dsRunning) {
        view_.SetStatus(texts::StatusRecording + std::to_string(run.Records));
        ByteString trace, errorText, recordText, reply;
        state_.RxBuffer.clear();
        for (int wait = 0; wait <= 40; wait += 4) {
            if (pump_.StopRequested()) throw DumpStopped{};
            pump_.WaitForLineEnd(port_, wait);
            Receive();
            trace += '.';
            recordText += state_.RxBuffer;
            if (Contains(state_.RxBuffer, "\r")) break;
        }
        state_.RxBuffer = recordText;
        // Asked to stop during the last read (the session's copy may be made already): the
        // record is not answered, so the device keeps it rather than it being lost here.
        if (pump_.StopRequested()) throw DumpStopped{};

        bool accepted = false;
        if (!Contains(recordText, "\r")) {
            // No end of line within the reads: refused.
        } else if (Contains(recordText, "OVER\r")) {
            dumpState = dsComplete;
            run.Complete = true;
            reply = "ACK\r";
        } else {
            if (counter % 10 == 0) counter = 0;
            // Too short for counting byte, check bytes and CR: refused without a text.
            if (recordText.size() >= MinimumRecordSize) {
                auto check =
                    CheckRecord(recordText, UsesAverageRule(headerSeen, run.Records, recordText));
                if (!check.Passed) errorText += ChecksumErrorText(check);
                accepted = check.Passed;
            }
        }

        if (accepted) {
            refusals = 0;
            const std::size_t n = recordText.size();
            ByteString payload = recordText.substr(1, n - 4);
            if (!headerSeen && run.Records == 0 && payload.starts_with("#;")) {
                headerSeen = true;
                HeaderRecord header = ParseHeader(payload);
                SetProgressMax(header.Maximum);
                state_.FileName += header.Name;
                view_.AddLogLine(texts::LogHeader + state_.FileName + " - " + header.CountText);
                JournalAppend(payload + "\r\n", false);
            } else {
                ++run.Records;
                if (position_ < maximum_) view_.SetProgressPosition(++position_);
                const ByteString entry = payload + "\r\n";
                state_.CaptureText.append(entry);
                // In the journal before the device hears the ACK that makes it delivered.
                JournalAppend(entry, true);
                ByteString line = trace;
                line.append("(").append(std::to_string(counter)).append(")").append(payload);
                for (std::size_t check : {n - 3, n - 2})
                    line.append("(")
                        .append(std::to_string(static_cast<unsigned char>(recordText[check])))
                        .append(")");
                view_.AddLogLine(line.append(errorText));
            }
            reply = "ACK\r";
            ++counter;
        } else if (dumpState == dsRunning) {
            if (++refusals > 10) dumpState = dsAborted;
            reply = "NAK\r";
        }
        view_.AddLogLine(
            ByteString(trace).append(texts::LogRequest).append(reply).append(errorText));
        port_.SendText(reply);
        // Never between the write and the ACK: the sync would delay every record.
        if (accepted) journal_.SyncWithin(pump_.Now().MillisecondsSinceEpoch());
    }
    return dumpState;
}

void DumpEngine::EndStep(DumpState dumpState, const LocalTime& start, RunRecord& run) {
    switch (dumpState) {
    case dsRunning:
        summary_.End = DumpEnd::NoAcknowledgement;
        view_.SetStatus(texts::StatusPutInDump);
        return;
    case dsAborted:
        summary_.End = DumpEnd::Aborted;
        run.Aborted = true;
        // The device still holds its records: nothing is saved.
        view_.SetStatus(texts::StatusAborted);
        view_.Beep();
        pump_.ProcessMessages();
        pump_.Sleep(1500);
        return;
    case dsComplete:
        break;
    }
    journal_.Sync();
    bool saved = SaveCapture();
    summary_.End = saved ? DumpEnd::Saved : DumpEnd::NotSaved;
    if (run.Stopped) throw DumpStopped{};
    if (saved) {
        LocalTime now = pump_.Now();
        view_.SetStatus(
            std::to_string(run.Records) + texts::StatusRecordsSuffix +
            FormatElapsed(now.MillisecondsSinceEpoch() - start.MillisecondsSinceEpoch()) +
            texts::StatusFinishedAt + FormatHmmss(now));
    } else {
        RescueSave(run);
        if (summary_.Unsaved > 0) {
            TellUnsaved(true);
        } else {
            view_.SetStatus(texts::StatusNotSaved);
            view_.ShowMessage(texts::StatusNotSaved);
        }
    }
    view_.AddPathLogLine(texts::LogPath, options_.DestPath, texts::LogFile + state_.FileName);
    // A folder took this capture: it may take the earlier ones that none took. Those still
    // waiting stay said, over the dump's own status.
    if ((saved || !summary_.RescueFile.empty()) && UnsavedRecords() > 0) {
        SaveUnsaved();
        if (UnsavedRecords() > 0) TellUnsaved(false);
    }
    view_.Beep();
    pump_.ProcessMessages();
    pump_.Sleep(1500);
    view_.HideToTray();
}

void DumpEngine::StartJournal(const LocalTime& start) {
    if (!journal_.Start(options_.ProgramFolder, JournalName, start, port_.Port()))
        view_.AddPathLogLine(texts::LogJournalFailed, journal_.File(), {});
}

void DumpEngine::JournalAppend(std::string_view bytes, bool payload) {
    // A full disk or a folder that refuses: said once, the journal given up, the dump goes on.
    if (journal_.Active() && !journal_.Append(bytes, payload))
        view_.AddPathLogLine(texts::LogJournalFailed, journal_.File(), {});
}

void DumpEngine::JournalServed() {
    journal_.Remove();
}

void DumpEngine::EndJournal(const RunRecord& run) {
    if (!journal_.Active()) return;
    // A cancelled dump saves nothing by design: the device still holds its records.
    if (run.Aborted || !journal_.HoldsRecords()) {
        journal_.Remove();
        return;
    }
    journal_.Keep();
    summary_.Journal = journal_.File();
}

void DumpEngine::SaveNow() {
    if (run_) RescueSave(*run_);
}

} // namespace veldar
