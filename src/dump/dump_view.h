// What a dump shows: the engine only tells, it never reads anything back. The window shows
// it all; a host without a window overrides what it has. Texts are Windows-1252 bytes.
#pragma once

#include "capture_files.h"
#include "com_types.h"

#include <filesystem>

namespace veldar {

class DumpView {
public:
    virtual ~DumpView() = default;

    // The status label.
    virtual void SetStatus(const ByteString& caption) = 0;
    // The log memo.
    virtual void AddLogLine(const ByteString& line) = 0;
    // A log line naming a folder or file between two texts. The path is shown as the
    // platform has it where the view can; here as Windows-1252 text.
    virtual void AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                                const ByteString& after) {
        AddLogLine(before + PathText(path) + after);
    }
    virtual void ClearLog() {}
    // The progress bar (its step is 1); the engine keeps the position itself.
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetProgressMax(int maximum) = 0;

    virtual void ShowFromTray() {}
    virtual void HideToTray() {}
    virtual void FocusMainWindow() {}
    virtual void Beep() {}
    // A modal message box titled "VELDAR" with an OK button.
    virtual void ShowMessage(const ByteString& text) = 0;

    // The file-name panel; its confirmation hands the name to DumpEngine::NameConfirmed.
    virtual void ShowNamePanel() {}
    virtual void HideNamePanel() {}
    // The tray icon's popup menu, taken away while a name is typed.
    virtual void TakeTrayMenu() {}
    virtual void GiveTrayMenu() {}

    // The capture goes to this folder: the chosen one, or the program's when it is gone.
    virtual void DestinationSettled(const std::filesystem::path&) {}
    // Opens a saved capture in the program the desktop associates with it.
    virtual void OpenInAssociatedProgram(const std::filesystem::path& file) = 0;
};

} // namespace veldar
