// SPDX-License-Identifier: GPL-3.0-or-later
// Build tool: renders the application's SVG icon to PNGs of the usual sizes, for icon
// themes and menus that do not read SVG. Usage: render_icon <svg> <out-folder> <size>...
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return std::fprintf(stderr, "usage: render_icon <svg> <out-folder> <size>...\n"), 2;
    QSvgRenderer svg(args[1]);
    if (!svg.isValid())
        return std::fprintf(stderr, "render_icon: %s is no SVG\n", qPrintable(args[1])), 1;
    for (const QString &size : args.mid(3)) {
        const int px = size.toInt();
        QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args[2], size);
        QDir().mkpath(folder);
        if (!image.save(folder + QStringLiteral("/" VELMORA_APP_ID ".png")))
            return std::fprintf(stderr, "render_icon: cannot write into %s\n", qPrintable(folder)), 1;
    }
    return 0;
}
