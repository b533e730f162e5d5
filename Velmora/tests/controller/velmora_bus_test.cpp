// SPDX-License-Identifier: GPL-3.0-or-later
// The bus object's rules: what is refused, and why. Writes over a real bus (reaching the
// controller, saved; refused ones changing nothing) are tests/e2e/dbus/test_remote.sh.
#include "dbus/VelmoraBus.h"

#include "ControllerTestKit.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Rule {
    const char *property;
    QVariant value;
    const char *refusedFor; // part of the German reason; null: accepted
};

TEST(VelmoraBusTest, writes_are_refused_by_the_panels_rules_with_a_reason)
{
    ControllerTestKit::ensureApp();
    const Rule rules[] = {
        {"FreeA4", 435.0, nullptr},     {"FreeA4", 470, nullptr},        {"FreeA4", 399.9, "400 bis 470 Hz"},
        {"FreeA4", std::nan(""), "400 bis 470 Hz"}, {"FreeA4", QStringLiteral("435"), "Typ d"},
        {"Mode", QStringLiteral("freeA4"), nullptr}, {"Mode", QStringLiteral("free"), "Modus 'free'"},
        {"PresetID", QStringLiteral("432"), nullptr}, {"PresetID", QStringLiteral("431"), "Voreinstellung '431'"},
        {"Engine", QStringLiteral("balanced"), nullptr}, {"Engine", QStringLiteral("fast"), "Engine 'fast'"},
        {"Enabled", QStringLiteral("true"), "Typ b"}, {"Active", true, "nur gelesen"},
        {"Volume", 1.0, "Eigenschaft 'Volume'"},
    };
    for (const Rule &r : rules) {
        const QString why = VelmoraBus::refusal(QLatin1String(r.property), r.value);
        if (r.refusedFor)
            EXPECT_TRUE(why.contains(QString::fromUtf8(r.refusedFor))) << r.property << ": " << why.toStdString();
        else
            EXPECT_TRUE(why.isEmpty()) << r.property << ": " << why.toStdString();
    }
}

} // namespace
