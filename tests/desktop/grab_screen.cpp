// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: saves the whole X screen ($DISPLAY) as a PNG. Usage: grab_screen <file.png>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    return argc == 2 && QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
