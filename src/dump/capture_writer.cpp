// Saving the capture: folder and name settled, the file created, overwritten or extended,
// and the copy made of what a dump could not save normally.
#include "capture_name.h"
#include "dump_engine.h"
#include "program_texts.h"

namespace veldar {

std::filesystem::path DumpEngine::SettledFolder() const {
    if (options_.DestPath.empty() || !files_.FolderExists(options_.DestPath))
        return options_.ProgramFolder;
    return options_.DestPath;
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
    result =
        files_.Write(path, state_.CaptureText, append ? WriteMode::Append : WriteMode::Replace);
    if (result) summary_.File = path;
    if (result && options_.ViewFile) view_.OpenInAssociatedProgram(path);
    return result;
}

void DumpEngine::RescueSave(RunRecord& run) {
    // Once per run, and only what this run accepted after its acknowledgement.
    if (run.Rescued || !run.Acknowledged) return;
    run.Rescued = true;
    if (state_.CaptureText.empty()) return;
    ByteString name = FormatAutoName(pump_.Now()) + (run.Complete ? "" : texts::PartialSuffix);
    for (const std::filesystem::path& folder :
         {SettledFolder(), options_.ProgramFolder, options_.HomeFolder}) {
        if (!folder.empty() && WriteNewFile(folder, name)) return;
    }
    view_.AddLogLine(texts::LogRescueFailed);
}

// Writes the capture under a name not yet taken in the folder: name.txt, name_2.txt... A
// failed attempt leaves nothing behind for the next folder's.
bool DumpEngine::WriteNewFile(const std::filesystem::path& folder, const ByteString& baseName) {
    if (!files_.FolderExists(folder)) return false;
    for (int n = 1; n < 1000; ++n) {
        ByteString name = baseName;
        if (n > 1) {
            name += '_';
            name += std::to_string(n);
        }
        name += ".txt";
        auto path = InFolder(folder, NativePath(name));
        if (files_.FileExists(path)) continue;
        if (!files_.Write(path, state_.CaptureText, WriteMode::CreateNew)) return false;
        summary_.RescueFile = path;
        view_.AddPathLogLine(texts::LogRescued, path, {});
        return true;
    }
    return false;
}

} // namespace veldar
