// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningMath.h"

#include <algorithm>
#include <cmath>

namespace TuningMath {

double factor(double forA4)
{
    if (!(forA4 > freeA4Range.lowerBound))   // also catches NaN
        return freeA4Range.lowerBound / standardA4;
    return std::min(forA4, freeA4Range.upperBound) / standardA4;
}

double cents(double forFactor)
{
    if (!std::isfinite(forFactor) || forFactor <= 0.0)
        return 0.0;
    return 1200.0 * std::log2(forFactor);
}

QString formatCents(double value)
{
    const double r = std::round(value * 10.0) / 10.0;   // std::round rounds halves away from zero
    QString sign;
    if (r > 0)
        sign = QStringLiteral("+");
    else if (r < 0)
        sign = QString(QChar(0x2212));
    else
        sign = QString(QChar(0x00B1));
    return sign + QString::number(std::fabs(r), 'f', 1) + QStringLiteral(" ct");
}

} // namespace TuningMath
