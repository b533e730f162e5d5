// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayArt.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace TrayArt {

namespace {

constexpr double targetLuminance = 0.18;

double linear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

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
        const float hue = float(i) / frameCount;
        // Blue is too dark even at full brightness: it gives up saturation instead.
        float saturation = 0.75f;
        while (saturation > 0.0f && luminance(QColor::fromHsvF(hue, saturation, 1.0f)) < targetLuminance)
            saturation -= 0.05f;
        // The brightness that reaches the target luminance (it grows with brightness).
        float low = 0.0f, high = 1.0f;
        for (int step = 0; step < 20; ++step) {
            const float mid = (low + high) / 2;
            (luminance(QColor::fromHsvF(hue, saturation, mid)) < targetLuminance ? low : high) = mid;
        }
        colors.append(QColor::fromHsvF(hue, std::max(saturation, 0.0f), high));
    }
    return colors;
}

QColor inactiveColor()
{
    return QColor(0xe0, 0x1b, 0x24);
}

double luminance(const QColor &color)
{
    const QColor c = color.toRgb();
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a) + 0.05, lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

QImage idleIcon(const QColor &color)
{
    QImage image = blank();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawFork(p, QRectF(0, 2, iconSize, iconSize - 4), color);
    p.setPen(QPen(color, 5.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(iconSize - 10, iconSize - 10));
    return image;
}

QImage activeIcon(const QColor &color)
{
    QImage image = blank();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawFork(p, QRectF(0, 2, iconSize, iconSize - 4), color);
    return image;
}

} // namespace TrayArt
