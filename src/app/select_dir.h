// The destination folder chooser. Until the program's own dialog exists, the platform's
// folder picker stands in behind this function.
#pragma once

#include <QString>

class QWidget;

namespace veldar {

enum TSelectDirOpt { dfEditPath = 1, dfCreatePath = 2, dfConfirmCreate = 4 };
using TSelectDirFlags = unsigned;

// Lets the user choose a folder, starting from Directory (empty: the current folder).
// True with the chosen folder in Directory; false when cancelled, Directory unchanged.
bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags Options, int HelpContext,
                         QWidget* parent = nullptr);

} // namespace veldar
