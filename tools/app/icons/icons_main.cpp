// veldar-icons FOLDER: writes the program's icon, as the program draws it, as PNG files
// of the desktop's icon theme: FOLDER/NxN/apps/veldar.png for each size menus and
// panels ask for.
#include "app_images.h"

#include <QDir>
#include <QString>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: veldar-icons FOLDER\n";
        return 2;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder =
            QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1x%1/apps").arg(size);
        const QString file = folder + QStringLiteral("/veldar.png");
        if (!QDir().mkpath(folder) || !veldar::ProgramIcon(size).save(file, "PNG")) {
            std::cerr << "veldar-icons: cannot write " << file.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
