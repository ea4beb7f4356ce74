// Saving the capture: folder and name settled, the file created, overwritten or extended,
// and the copy made of what a dump could not save normally.
#include "capture_name.h"
#include "dump_engine.h"
#include "program_texts.h"

#include <array>
#include <optional>

namespace veldar {

std::filesystem::path DumpEngine::SettledFolder() const {
    if (options_.DestPath.empty() || !files_.FolderExists(options_.DestPath))
        return options_.ProgramFolder;
    return options_.DestPath;
}

// Where a copy goes when the capture could not be saved: the first of them that takes it.
std::array<std::filesystem::path, 3> DumpEngine::RescueFolders() const {
    return {SettledFolder(), options_.ProgramFolder, options_.HomeFolder};
}

// Shows the name panel until a usable name is typed; false when the program asked to stop
// meanwhile.
bool DumpEngine::WaitForName(RunRecord* run) {
    while (SafeFileName(state_.FileName).empty()) {
        if (pump_.StopRequested()) {
            if (run) run->Stopped = true;
            return false;
        }
        view_.ShowNamePanel();
        view_.TakeTrayMenu();
        // Sleeps until something happens: the user types, a port event or a quit request.
        pump_.WaitForEvent();
    }
    return true;
}

bool DumpEngine::SaveCapture() {
    bool result = false;
    TakeOptions();
    options_.DestPath = SettledFolder();
    view_.DestinationSettled(options_.DestPath);
    view_.FocusMainWindow();
    if (options_.AutoFileName) state_.FileName = FormatAutoName(pump_.Now());
    bool named = WaitForName(run_);
    view_.GiveTrayMenu();
    view_.HideNamePanel();
    if (!named) return false;
    // A long name from the device is cut to what a folder takes, rather than not saved.
    state_.FileName = FittedFileName(SafeFileName(state_.FileName), ".txt") + ".txt";
    if (state_.CaptureText.empty()) return false;

    const auto path = InFolder(options_.DestPath, NativePath(state_.FileName));
    // A read-only file is never touched, also where the user could override the mode.
    if (files_.FileExists(path) && files_.IsReadOnly(path)) return false;
    bool append = files_.FileExists(path) && !options_.OverwriteFile;
    result = files_.Write(path, state_.CaptureText.Pieces(),
                          append ? WriteMode::Append : WriteMode::Replace);
    if (result) summary_.File = path;
    if (result && run_ && files_.Sync(path)) JournalServed();
    if (result && options_.ViewFile) view_.OpenInAssociatedProgram(path);
    return result;
}

void DumpEngine::RescueSave(RunRecord& run) {
    // Once per run, and only what this run accepted after its acknowledgement.
    if (run.Rescued || !run.Acknowledged) return;
    run.Rescued = true;
    if (state_.CaptureText.empty()) return;
    ByteString name = FormatAutoName(pump_.Now()) + (run.Complete ? "" : texts::PartialSuffix);
    for (const std::filesystem::path& folder : RescueFolders()) {
        if (!folder.empty() && WriteNewFile(folder, name)) return;
    }
    view_.AddLogLine(texts::LogRescueFailed);
    KeepUnsaved(name, run.Records);
}

void DumpEngine::KeepUnsaved(const ByteString& name, int records) {
    // The journal still holds them when it could be written to the end.
    std::unique_ptr<JournalFile> journal;
    if (journal_.Active() && journal_.HoldsRecords()) {
        summary_.Journal = journal_.File();
        journal = std::make_unique<JournalFile>(journal_.HandOver());
    }
    unsaved_.push_back({name, state_.CaptureText, records, std::move(journal)});
    summary_.Unsaved = records;
    view_.AddLogLine(std::to_string(records) + texts::LogUnsaved);
}

void DumpEngine::TellUnsaved(bool box) {
    const std::string count = std::to_string(UnsavedRecords());
    view_.SetStatus(count + texts::StatusUnsaved);
    if (box) view_.ShowMessage(count + texts::MessageUnsaved);
}

void DumpEngine::RetryUnsaved() {
    if (unsaved_.empty()) return;
    const UnsavedWritten written = SaveUnsaved();
    if (!unsaved_.empty())
        TellUnsaved(true);
    else
        view_.SetStatus(std::to_string(written.Records) + texts::StatusUnsavedWritten +
                        PathText(written.LastFile.filename()));
}

int DumpEngine::UnsavedRecords(bool journaled) const {
    int records = 0;
    for (const UnsavedCapture& capture : unsaved_)
        if (journaled || !capture.Journal) records += capture.Records;
    return records;
}

UnsavedWritten DumpEngine::SaveUnsaved() {
    UnsavedWritten written;
    if (unsaved_.empty()) return written;
    TakeOptions();
    std::erase_if(unsaved_, [&](const UnsavedCapture& capture) {
        for (const std::filesystem::path& folder : RescueFolders()) {
            if (folder.empty()) continue;
            const auto path = WriteNewCapture(files_, folder, capture.Name, capture.Text.Pieces());
            if (path.empty()) continue;
            view_.AddPathLogLine(texts::LogRescued, path, {});
            written.LastFile = path;
            // Its records are in two places now: the journal would bring them back twice.
            if (files_.Sync(path) && capture.Journal) capture.Journal->Remove();
            written.Records += capture.Records;
            return true;
        }
        return false;
    });
    if (written.Records == 0)
        view_.AddLogLine(std::to_string(UnsavedRecords()) + texts::LogUnsaved);
    return written;
}

// Writes the capture under a name not yet taken in the folder: name.txt, name_2.txt... A
// failed attempt leaves nothing behind for the next folder's.
bool DumpEngine::WriteNewFile(const std::filesystem::path& folder, const ByteString& baseName) {
    auto path = WriteNewCapture(files_, folder, baseName, state_.CaptureText.Pieces());
    if (path.empty()) return false;
    summary_.RescueFile = path;
    view_.AddPathLogLine(texts::LogRescued, path, {});
    if (files_.Sync(path)) JournalServed();
    return true;
}

ByteString DumpEngine::RecoverJournals() {
    // A journal larger than this was not written by a dump.
    constexpr std::size_t MaxJournalBytes = std::size_t{256} << 20;
    TakeOptions();
    int recovered = 0;
    std::filesystem::path last;
    for (const auto& journal : FindJournals(options_.ProgramFolder)) {
        JournalFile file;
        const JournalFile::Claim claim = file.Take(journal);
        // Another program's dump is running with it.
        if (claim == JournalFile::Claim::Held) continue;
        std::optional<std::string> bytes;
        if (claim == JournalFile::Claim::Taken) bytes = file.ReadAll(MaxJournalBytes);
        if (!bytes) {
            view_.AddPathLogLine(texts::LogJournalUnreadable, journal, {});
            continue;
        }
        const JournalContent content = ReadJournalContent(*bytes);
        // Ended before its first record was accepted.
        if (content.Records == 0) {
            file.Remove();
            continue;
        }
        // Named as the rescue copy of that dump would have been, at its own time.
        const ByteString name = JournalTime(journal) + texts::PartialSuffix;
        std::filesystem::path copy;
        bool synced = false;
        for (const std::filesystem::path& folder : RescueFolders()) {
            if (folder.empty()) continue;
            const std::string_view capture = content.Capture;
            copy = WriteNewCapture(files_, folder, name, BytePieces(&capture, 1));
            if (copy.empty()) continue;
            synced = files_.Sync(copy);
            break;
        }
        if (copy.empty()) {
            view_.AddPathLogLine(texts::LogJournalNotCopied, journal, {});
            continue;
        }
        // A copy that did not reach the disk keeps its journal for the next start.
        if (synced) file.Remove();
        view_.AddPathLogLine(texts::LogRecovered + std::to_string(content.Records) +
                                 texts::LogRecoveredIn,
                             copy, content.Torn ? texts::LogRecoveredTorn : "");
        recovered += content.Records;
        last = copy;
    }
    if (recovered == 0) return {};
    return std::to_string(recovered) + texts::StatusRecovered + PathText(last.filename());
}

} // namespace veldar
