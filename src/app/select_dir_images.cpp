#include "select_dir_images.h"

#include <array>
#include <string_view>

namespace veldar {

namespace {

constexpr int Size = 16;
using Picture = std::array<std::string_view, Size>;

// Every row as wide as the picture and the key ('.') in the bottom-left pixel.
consteval bool WellFormed(const Picture& rows) {
    for (std::string_view row : rows)
        if (row.size() != Size) return false;
    return rows[Size - 1][0] == '.';
}

QRgb ColourOf(char c) {
    switch (c) {
    case 'K':
        return qRgb(0, 0, 0);
    case 'W':
        return qRgb(255, 255, 255);
    case 'L':
        return qRgb(192, 192, 192);
    case 'D':
        return qRgb(128, 128, 128);
    case 'Y':
        return qRgb(255, 216, 80);
    case 'y':
        return qRgb(176, 136, 24);
    case 'G':
        return qRgb(0, 160, 64);
    case 'g':
        return qRgb(0, 96, 32);
    case 'O':
        return qRgb(224, 176, 32);
    case 'b':
        return qRgb(96, 160, 255);
    }
    // '.': the key, magenta, which no picture draws with.
    return qRgb(255, 0, 255);
}

QImage Draw(const Picture& rows) {
    QImage image(Size, Size, QImage::Format_RGB32);
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x)
            image.setPixel(x, y, ColourOf(rows[y][x]));
    return image;
}

// The pictures, one row a line.
// clang-format off
constexpr Picture ClosedFolder = {
    "................",
    "................",
    "..KKKK..........",
    ".KWYYYK.........",
    "KYYYYYYKKKKKKK..",
    "KWYYYYYYYYYYYYK.",
    "KYYYYYYYYYYYYyK.",
    "KYYYYYYYYYYYYyK.",
    "KYYYYYYYYYYYYyK.",
    "KYYYYYYYYYYYYyK.",
    "KYYYYYYYYYYYYyK.",
    "KYYYYYYYYYYYYyK.",
    "KyyyyyyyyyyyyyK.",
    "KKKKKKKKKKKKKKK.",
    "................",
    "................",
};

// The front flap tilted forward, the inside showing.
constexpr Picture OpenFolder = {
    "................",
    "................",
    ".KKKK...........",
    "KYYYYK..........",
    "KYYYYYKKKKKKK...",
    "KYYYYYYYYYYYYK..",
    "KYYYKKKKKKKKKKKK",
    "KYYKWWYYYYYYYYYK",
    "KYYKYYYYYYYYYYK.",
    "KYKYYYYYYYYYYYK.",
    "KYKYYYYYYYYYYK..",
    "KKYYYYYYYYYYYK..",
    "KKyyyyyyyyyyK...",
    "KKKKKKKKKKKKK...",
    "................",
    "................",
};

// The open folder with a written sheet standing in it.
constexpr Picture CurrentFolder = {
    "................",
    "........KKKKK...",
    ".KKKK...KWWWK...",
    "KYYYYK..KWDWK...",
    "KYYYYYKKKWWWK...",
    "KYYYYYYYKWDWKK..",
    "KYYYKKKKKKKKKKKK",
    "KYYKWWYYYYYYYYYK",
    "KYYKYYYYYYYYYYK.",
    "KYKYYYYYYYYYYYK.",
    "KYKYYYYYYYYYYK..",
    "KKYYYYYYYYYYYK..",
    "KKyyyyyyyyyyK...",
    "KKKKKKKKKKKKK...",
    "................",
    "................",
};

// A diskette: the metal shutter at the top, the label below.
constexpr Picture RemovableDrive = {
    "................",
    ".KKKKKKKKKKKKK..",
    ".KDDLLLLLLDDDK..",
    ".KDDLLDDLLDDDK..",
    ".KDDLLDDLLDDDK..",
    ".KDDLLLLLLDDDK..",
    ".KDDDDDDDDDDDK..",
    ".KDWWWWWWWWWDK..",
    ".KDWKKKKKKKWDK..",
    ".KDWWWWWWWWWDK..",
    ".KDWKKKKKKKWDK..",
    ".KDWWWWWWWWWDK..",
    ".KDWWWWWWWWWDK..",
    ".KKKKKKKKKKKKK..",
    "................",
    "................",
};

// A disk box seen from above the front, its lamp lit.
constexpr Picture FixedDrive = {
    "................",
    "................",
    "................",
    "................",
    "...KKKKKKKKKKKK.",
    "..KLLLLLLLLLLKK.",
    ".KLLLLLLLLLLKDK.",
    "KKKKKKKKKKKKDDK.",
    "KWWWWWWWWWWKDDK.",
    "KLLLLLLLLGLKDK..",
    "KLLLLLLLLLLKK...",
    "KKKKKKKKKKKK....",
    "................",
    "................",
    "................",
    "................",
};

// The disk box on a cable to the network line.
constexpr Picture NetworkDrive = {
    "................",
    "...KKKKKKKKKKKK.",
    "..KLLLLLLLLLLKK.",
    ".KLLLLLLLLLLKDK.",
    "KKKKKKKKKKKKDDK.",
    "KWWWWWWWWWWKDDK.",
    "KLLLLLLLLGLKDK..",
    "KLLLLLLLLLLKK...",
    "KKKKKKKKKKKK....",
    ".....KK.........",
    ".....KK.........",
    ".....KK.........",
    "gggggggggggggggg",
    "gggggggggggggggg",
    "................",
    "................",
};

// A disc with its hole and a reflection.
constexpr Picture CDRomDrive = {
    "................",
    ".....KKKKKK.....",
    "...KKLLLLLLKK...",
    "..KLLWWLLLLLLK..",
    ".KLWWWLLLLLLLLK.",
    ".KLWWLLLLLLLLLK.",
    "KLLLLLLKKLLLLLLK",
    "KLLLLLKWWKLLLLLK",
    "KLLLLLKWWKLLLLLK",
    "KLLLLLLKKLLLLLLK",
    ".KLLLLLLLLLbbLK.",
    ".KLLLLLLLLbbbLK.",
    "..KLLLLLLbbLLK..",
    "...KKLLLLLLKK...",
    ".....KKKKKK.....",
    "................",
};

// A memory module: chips on a board over its contacts.
constexpr Picture RAMDrive = {
    "................",
    "................",
    "................",
    "................",
    "GGGGGGGGGGGGGGGG",
    "GKKGKKGKKGKKGKKG",
    "GKKGKKGKKGKKGKKG",
    "GKKGKKGKKGKKGKKG",
    "GGGGGGGGGGGGGGGG",
    "GOGOGOGOGOGOGOGG",
    "gggggggggggggggg",
    "................",
    "................",
    "................",
    "................",
    "................",
};

// clang-format on

static_assert(WellFormed(ClosedFolder) && WellFormed(OpenFolder) && WellFormed(CurrentFolder));
static_assert(WellFormed(RemovableDrive) && WellFormed(FixedDrive) && WellFormed(NetworkDrive) &&
              WellFormed(CDRomDrive) && WellFormed(RAMDrive));

} // namespace

QImage FolderImage(TFolderImage kind) {
    switch (kind) {
    case TFolderImage::fiOpen:
        return Draw(OpenFolder);
    case TFolderImage::fiCurrent:
        return Draw(CurrentFolder);
    case TFolderImage::fiClosed:
        break;
    }
    return Draw(ClosedFolder);
}

QImage DriveImage(TDriveKind kind) {
    switch (kind) {
    case TDriveKind::dkRemovable:
        return Draw(RemovableDrive);
    case TDriveKind::dkNetwork:
        return Draw(NetworkDrive);
    case TDriveKind::dkCDRom:
        return Draw(CDRomDrive);
    case TDriveKind::dkRAM:
        return Draw(RAMDrive);
    case TDriveKind::dkFixed:
        break;
    }
    return Draw(FixedDrive);
}

} // namespace veldar
