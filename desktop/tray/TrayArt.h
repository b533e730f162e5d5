// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The tray icon's pictures: our own tuning fork, red while retuning is off; while it is on,
// the fork with the short label below it (tray icons are square, there is no room beside
// them), both in one of 120 colours that walk around the colour wheel.
//
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

namespace TrayArt {

inline constexpr int frameCount = 120;
inline constexpr int iconSize = 64;

// Colour i has hue i / 120 and saturation 0.75; its brightness pulls light hues (yellow,
// cyan) down towards a luminance of 0.45 but never below 0.55, so the label stays readable
// on light and dark panels alike. Dark hues keep full brightness.
QList<QColor> rainbowColors();
// The idle colour.
QColor inactiveColor();

// The fork alone, filling the square.
QImage idleIcon(const QColor &color);
// The fork in the upper part, `label` (e.g. "432") below it, both in `color`.
QImage labelledIcon(const QColor &color, const QString &label);

} // namespace TrayArt
