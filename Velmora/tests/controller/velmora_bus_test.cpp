// SPDX-License-Identifier: GPL-3.0-or-later
// The bus object's rules and writes without a bus: what is refused (and why), that a refused
// write changes nothing, that accepted writes reach the controller and are saved.
#include "controller/TonvelController.h"
#include "dbus/RunSettings.h"
#include "dbus/VelmoraBus.h"

#include "ControllerTestKit.h"
#include "FakeRetuneEngine.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

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

TEST(VelmoraBusTest, a_write_reaches_the_controller_and_is_saved_a_refused_one_changes_nothing)
{
    ControllerTestKit::ensureApp();
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Velmora.conf"));
    auto engine = std::make_shared<FakeRetuneEngine>();
    TonvelController c({engine, std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json"))), settings,
                        dir.filePath(QStringLiteral("a.desktop")), {}, {}, false});
    VelmoraBus bus(c, {});
    QSignalSpy requested(&bus, &VelmoraBus::enabledRequested);
    const QDBusConnection none(QStringLiteral("none"));
    const auto set = [&](const char *property, const QVariant &value) {
        QDBusMessage m = QDBusMessage::createMethodCall(QLatin1String(VelmoraBus::service), QLatin1String(VelmoraBus::path),
                                                        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
        m << QLatin1String(VelmoraBus::interface) << QLatin1String(property) << QVariant::fromValue(QDBusVariant(value));
        EXPECT_TRUE(bus.handleMessage(m, none));
    };

    set("FreeA4", 1000.0);
    set("Mode", QStringLiteral("freeA4"));
    EXPECT_EQ(c.freeA4(), 440.0);
    set("FreeA4", 435);
    EXPECT_EQ(c.freeA4(), 435.0);
    EXPECT_EQ(bus.properties().value(QStringLiteral("TargetA4")).toDouble(), 435.0);
    EXPECT_TRUE(ControllerTestKit::readAll(settings).contains("freeA4=435"));

    bus.handleMessage(QDBusMessage::createMethodCall(QLatin1String(VelmoraBus::service), QLatin1String(VelmoraBus::path),
                                                     QLatin1String(VelmoraBus::interface), QStringLiteral("Toggle")),
                      none);
    EXPECT_TRUE(c.isEnabled());
    ASSERT_EQ(requested.size(), 1);
    EXPECT_TRUE(requested[0][0].toBool());
    c.shutdown();
}

TEST(VelmoraBusTest, a_run_with_its_own_options_saves_only_what_a_client_set)
{
    ControllerTestKit::ensureApp();
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Velmora.conf"));
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("[General]\nengine=1\nfreeA4=420\n") > 0);
    f.close();
    TonvelController c({std::make_shared<FakeRetuneEngine>(),
                        std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json"))), settings,
                        dir.filePath(QStringLiteral("a.desktop")), {}, {}, false, /*saveSettings*/ false});
    c.setEngine(EngineKind::balanced); // the run's own option
    c.setFreeA4(435.0);                // then a client's write
    RunSettings::saveBusWrite(c, QStringLiteral("FreeA4"), settings);
    const QByteArray saved = ControllerTestKit::readAll(settings);
    EXPECT_TRUE(saved.contains("freeA4=435")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("engine=1")) << saved.toStdString();
}

} // namespace
