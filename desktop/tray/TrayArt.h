// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The tray icon's pictures: our own tuning fork, struck through and red while retuning is
// off, and while it is on plain, in one of 120 colours that walk around the colour wheel.
// Every colour keeps a contrast of at least 3:1 against both a black and a white bar.
//
#include <QColor>
#include <QImage>
#include <QList>

namespace TrayArt {

inline constexpr int frameCount = 120;
inline constexpr int iconSize = 64;

// Colour i has hue i / 120; brightness and saturation put its relative luminance near
// 0.18, the middle of the band (0.1 ... 0.3) that gives 3:1 against black and white.
QList<QColor> rainbowColors();
// The idle colour.
QColor inactiveColor();
// WCAG relative luminance (linear sRGB) and the contrast ratio of two colours.
double luminance(const QColor &color);
double contrast(const QColor &a, const QColor &b);

// The fork, struck through: retuning is off.
QImage idleIcon(const QColor &color);
// The fork filling the square: retuning is on.
QImage activeIcon(const QColor &color);

} // namespace TrayArt
