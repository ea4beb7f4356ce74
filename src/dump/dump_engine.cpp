// The dump run: requests until the device acknowledges, then record by record until its
// end marker, each record judged and answered.
#include "dump_engine.h"

#include "dump_texts.h"
#include "record_check.h"
#include "timer_resolution.h"

namespace veldar {

namespace {

// A dump the host asked to stop: unwinds to RunDump, which returns at once.
struct DumpStopped {};

bool Contains(const ByteString& text, const char* what) {
    return text.find(what) != ByteString::npos;
}

} // namespace

DumpEngine::DumpEngine(ProgramState& state, TCustomComPort& comPort, DumpHost& host,
                       CaptureFiles& files)
    : state_(state), port_(comPort), host_(host), files_(files) {}

int DumpEngine::Receive() {
    return port_.ReceiveText(state_.RxBuffer, state_.ReadCount);
}

void DumpEngine::ComPort1RxChar(TCustomComPort*, int) {
    if (state_.Busy) return;
    // The bytes that raised the event are taken away unused.
    Receive();
    RunDump(true);
}

void DumpEngine::ComPort1CTSChange(TCustomComPort*, bool onOff) {
    if (onOff && !state_.Busy) RunDump(false);
}

void DumpEngine::clCtsDblClick() {
    if (!state_.Busy) RunDump(true);
}

void DumpEngine::RunDump(bool probeFirst) {
    state_.Busy = true;
    FineTimerResolution fineSleeps;
    RunRecord run;
    const LocalTime start = host_.Now();
    struct CurrentRun {
        DumpEngine& engine;
        const LocalTime& start;
        ~CurrentRun() {
            engine.summary_.ElapsedMs =
                engine.host_.Now().MillisecondsSinceEpoch() - start.MillisecondsSinceEpoch();
            engine.run_ = nullptr;
            if (engine.OnFinished) engine.OnFinished();
        }
    } current{*this, start};
    run_ = &run;
    summary_ = DumpSummary{};
    int records = 0;
    try {
        if (probeFirst) WakeDevice();
        host_.SetProgressPosition(0);
        ByteString requestWord;
        DumpState dumpState = dsRunning;
        if (RequestPhase(requestWord)) {
            run.Acknowledged = true;
            dumpState = RecordPhase(records, run);
        }
        summary_.Records = records;
        EndStep(dumpState, records, start, run);
    } catch (const DumpStopped&) {
        summary_.Records = records;
        summary_.End = DumpEnd::Stopped;
        RescueSave(run);
    } catch (const EComPort& e) {
        // The adapter is gone or refuses: keep what was accepted, tell why, and let the
        // failure go on to whoever started the dump. Busy stays set until the port reopens.
        summary_.Records = records;
        summary_.End = DumpEnd::PortFailed;
        RescueSave(run);
        host_.SetStatus(e.what());
        throw;
    }
    state_.Busy = false;
}

// Requests a dump, "LOAD" and "READ" in turn, ten times at most; true once acknowledged.
bool DumpEngine::RequestPhase(ByteString& requestWord) {
    for (int attempts = 0;;) {
        if (host_.StopRequested()) throw DumpStopped{};
        host_.ProcessMessages();
        requestWord = requestWord == "LOAD" ? "READ" : "LOAD";
        port_.SendText(requestWord + "\r");
        for (int wait = 0; wait <= 50; wait += 5) {
            host_.Sleep(wait);
            if (Receive() > 0) break;
        }
        // Only the first bytes that come back count: an answer split over two reads is
        // missed, and the next request goes out.
        if (Contains(state_.RxBuffer, "ACK\r")) return true;
        if (++attempts == 10) {
            host_.AddLogLine(texts::LogNoAck);
            return false;
        }
    }
}

DumpState DumpEngine::RecordPhase(int& records, RunRecord& run) {
    host_.SetProgressMax(1000);
    int refusals = 0;
    int counter = 0;
    bool headerSeen = false;
    state_.CaptureText.clear();
    state_.FileName.clear();
    host_.ShowFromTray();
    host_.ClearLog();

    DumpState dumpState = dsRunning;
    while (dumpState == dsRunning) {
        host_.SetStatus(texts::StatusRecording + std::to_string(records));
        ByteString trace, errorText, recordText, reply;
        state_.RxBuffer.clear();
        for (int wait = 0; wait <= 40; wait += 4) {
            if (host_.StopRequested()) throw DumpStopped{};
            host_.Sleep(wait);
            Receive();
            trace += '.';
            recordText += state_.RxBuffer;
            if (Contains(state_.RxBuffer, "\r")) break;
        }
        state_.RxBuffer = recordText;

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
                    CheckRecord(recordText, UsesAverageRule(headerSeen, records, recordText));
                if (!check.Passed) errorText += ChecksumErrorText(check);
                accepted = check.Passed;
            }
        }

        if (accepted) {
            refusals = 0;
            const std::size_t n = recordText.size();
            ByteString payload = recordText.substr(1, n - 4);
            if (!headerSeen && records == 0 && payload.starts_with("#;")) {
                headerSeen = true;
                HeaderRecord header = ParseHeader(payload);
                host_.SetProgressMax(header.Maximum);
                state_.FileName += header.Name;
                host_.AddLogLine(texts::LogHeader + state_.FileName + " - " + header.CountText);
            } else {
                ++records;
                if (host_.ProgressPosition() < host_.ProgressMax())
                    host_.SetProgressPosition(host_.ProgressPosition() + 1);
                state_.CaptureText += payload + "\r\n";
                host_.AddLogLine(trace + "(" + std::to_string(counter) + ")" + payload + "(" +
                                 std::to_string(static_cast<unsigned char>(recordText[n - 3])) +
                                 ")(" +
                                 std::to_string(static_cast<unsigned char>(recordText[n - 2])) +
                                 ")" + errorText);
            }
            reply = "ACK\r";
            ++counter;
        } else if (dumpState == dsRunning) {
            if (++refusals > 10) dumpState = dsAborted;
            reply = "NAK\r";
        }
        host_.AddLogLine(trace + texts::LogRequest + reply + errorText);
        port_.SendText(reply);
    }
    return dumpState;
}

void DumpEngine::EndStep(DumpState dumpState, int records, const LocalTime& start, RunRecord& run) {
    switch (dumpState) {
    case dsRunning:
        summary_.End = DumpEnd::NoAcknowledgement;
        host_.SetStatus(texts::StatusPutInDump);
        return;
    case dsAborted:
        summary_.End = DumpEnd::Aborted;
        // The device still holds its records: nothing is saved.
        host_.SetStatus(texts::StatusAborted);
        host_.Beep();
        host_.ProcessMessages();
        host_.Sleep(1500);
        return;
    case dsComplete:
        break;
    }
    bool saved = SaveCapture();
    summary_.End = saved ? DumpEnd::Saved : DumpEnd::NotSaved;
    if (run.Stopped) throw DumpStopped{};
    if (saved) {
        LocalTime now = host_.Now();
        host_.SetStatus(
            std::to_string(records) + texts::StatusRecordsSuffix +
            FormatElapsed(now.MillisecondsSinceEpoch() - start.MillisecondsSinceEpoch()) +
            texts::StatusFinishedAt + FormatHmmss(now));
    } else {
        RescueSave(run);
        host_.SetStatus(texts::StatusNotSaved);
        host_.ShowMessage(texts::StatusNotSaved);
    }
    host_.AddPathLogLine(texts::LogPath, state_.DestPath, texts::LogFile + state_.FileName);
    host_.Beep();
    host_.ProcessMessages();
    host_.Sleep(1500);
    host_.HideToTray();
}

void DumpEngine::SaveNow() {
    if (run_) RescueSave(*run_);
}

} // namespace veldar
