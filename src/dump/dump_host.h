// What the dump engine needs of the window and the platform. The application's main window
// implements it; tests implement it with a virtual clock and scripted user answers.
// Texts are Windows-1252 bytes; folders and files are paths of the platform.
#pragma once

#include "capture_files.h"
#include "com_types.h"
#include "local_time.h"

#include <filesystem>
#include <string>

namespace veldar {

class DumpHost {
public:
    virtual ~DumpHost() = default;

    // The status label.
    virtual void SetStatus(const ByteString& caption) = 0;
    // The log memo.
    virtual void AddLogLine(const ByteString& line) = 0;
    // A log line naming a folder or file between two texts. The path is shown as the
    // platform has it where the host can; here as Windows-1252 text.
    virtual void AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                                const ByteString& after) {
        AddLogLine(before + PathText(path) + after);
    }
    virtual void ClearLog() = 0;
    // The progress bar (its step is 1).
    virtual int ProgressPosition() const = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressMax() const = 0;
    virtual void SetProgressMax(int maximum) = 0;

    virtual void ShowFromTray() = 0;
    virtual void HideToTray() = 0;
    virtual void FocusMainWindow() = 0;

    // Runs the pending window messages (and port hand-overs), without waiting.
    virtual void ProcessMessages() = 0;
    // Waits for the next event (a message, a port hand-over, a quit request) and runs it.
    virtual void WaitForEvent() = 0;
    virtual void Sleep(int milliseconds) = 0;
    virtual LocalTime Now() = 0;
    virtual void Beep() = 0;
    // A modal message box titled "VELDAR" with an OK button.
    virtual void ShowMessage(const ByteString& text) = 0;

    // The file-name panel; its confirmation sets the program's FileName.
    virtual void ShowNamePanel() = 0;
    virtual void HideNamePanel() = 0;
    // The tray icon's popup menu, taken away while a name is typed.
    virtual void TakeTrayMenu() = 0;
    virtual void GiveTrayMenu() = 0;

    // The three options of the tray menu.
    virtual bool AutoFileName() const = 0;
    virtual bool OverwriteFile() const = 0;
    virtual bool ViewFile() const = 0;

    // The program's folder, ending with a path delimiter: the executable's, or the user's
    // configuration folder for an installed program.
    virtual std::filesystem::path ExecutableFolder() const = 0;
    // The user's home folder, for a rescue copy when nothing else can be written.
    virtual std::filesystem::path HomeFolder() const = 0;
    // Opens a file in the program the desktop associates with it.
    virtual void OpenInAssociatedProgram(const std::filesystem::path& file) = 0;

    // The program is quitting: a running dump saves what it has and returns at once.
    virtual bool StopRequested() const = 0;
};

} // namespace veldar
