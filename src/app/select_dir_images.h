// The pictures of the folder chooser, drawn by code: 16×16, three folders for the folder
// list and five drives for the drive list. Every picture has the key colour in its bottom-left
// pixel and around its drawing, and nowhere else, so that colour becomes transparent.
#pragma once

#include <QImage>

namespace veldar {

enum class TFolderImage {
    fiOpen,    // a folder on the way to the current one
    fiCurrent, // the current folder
    fiClosed   // a sub-folder of the current one
};

enum class TDriveKind { dkRemovable, dkFixed, dkNetwork, dkCDRom, dkRAM };

QImage FolderImage(TFolderImage kind);
QImage DriveImage(TDriveKind kind);

} // namespace veldar
