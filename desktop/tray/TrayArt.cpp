// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayArt.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace TrayArt {

namespace {

constexpr double saturation = 0.75;
constexpr double targetLuminance = 0.45;
constexpr double lowestBrightness = 0.55;

// A fork in a 24 x 40 box: two tines joined by a U, and the handle below.
void drawFork(QPainter &p, const QRectF &box, const QColor &color)
{
    const double sx = box.width() / 24.0, sy = box.height() / 40.0;
    const double s = std::min(sx, sy);
    const QPointF origin(box.center().x() - 12.0 * s, box.center().y() - 20.0 * s);
    auto at = [&](double x, double y) { return origin + QPointF(x * s, y * s); };

    QPainterPath tines;
    tines.moveTo(at(4, 2));
    tines.lineTo(at(4, 17));
    tines.cubicTo(at(4, 25), at(20, 25), at(20, 17));
    tines.lineTo(at(20, 2));
    QPainterPath handle;
    handle.moveTo(at(12, 23));
    handle.lineTo(at(12, 38));

    QPen pen(color, 4.2 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tines);
    p.drawPath(handle);
}

QImage blank()
{
    QImage image(iconSize, iconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QList<QColor> rainbowColors()
{
    QList<QColor> colors;
    colors.reserve(frameCount);
    for (int i = 0; i < frameCount; ++i) {
        const double hue = double(i) / frameCount;
        const QColor base = QColor::fromHsvF(float(hue), float(saturation), 1.0f).toRgb();
        // Weights of sRGB components as they are, without linearisation.
        const double luminance = 0.2126 * base.redF() + 0.7152 * base.greenF() + 0.0722 * base.blueF();
        const double brightness =
            luminance <= 0.001 ? 1.0 : std::min(1.0, std::max(lowestBrightness, targetLuminance / luminance));
        colors.append(QColor::fromHsvF(float(hue), float(saturation), float(brightness)));
    }
    return colors;
}

QColor inactiveColor()
{
    return QColor(0xe0, 0x1b, 0x24);
}

QImage idleIcon(const QColor &color)
{
    QImage image = blank();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawFork(p, QRectF(0, 2, iconSize, iconSize - 4), color);
    return image;
}

QImage labelledIcon(const QColor &color, const QString &label)
{
    QImage image = blank();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawFork(p, QRectF(0, 1, iconSize, 36), color);

    // The largest bold font whose text fits the width and the lower 27 pixels.
    const QRectF textBox(0, 37, iconSize, iconSize - 37);
    QFont font;
    font.setBold(true);
    font.setPixelSize(int(textBox.height()));
    const double width = QFontMetricsF(font).horizontalAdvance(label);
    if (width > textBox.width())
        font.setPixelSize(std::max(8, int(textBox.height() * textBox.width() / width)));
    p.setFont(font);
    p.setPen(color);
    p.drawText(textBox, Qt::AlignCenter, label);
    return image;
}

} // namespace TrayArt
