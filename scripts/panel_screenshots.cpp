// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the panel offscreen against the real controller on a fake audio engine, in German
// and English (off, retuning with detection, consent prompt, error), into the folder given.
// Run by scripts/screenshots.sh; the pictures go into the README.
#include "FakeRetuneEngine.h"
#include "controller/TonvelController.h"
#include "i18n/Translations.h"
#include "panel/PanelSupport.h"
#include "panel/PanelWindow.h"

#include <TonvelCore/OriginConsent.h>

#include <QApplication>
#include <QDir>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    QTemporaryDir home;
    // Keep the user's settings, consent file and autostart folder out of reach.
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    if (argc != 2)
        return std::fprintf(stderr, "usage: panel_screenshots <folder>\n"), 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    auto engine = std::make_shared<FakeRetuneEngine>();
    auto timers = std::make_shared<ManualTimers>(); // outlives the controller's timers
    TonvelController::Options options;
    options.engine = engine;
    options.consent = std::make_shared<OriginConsent>(home.filePath(QStringLiteral("einwilligungen.json")));
    options.settingsPath = home.filePath(QStringLiteral("Velmora.conf"));
    options.autostartPath = home.filePath(QStringLiteral("autostart.desktop"));
    options.timers = timers;
    options.analysis = false;
    TonvelController controller(std::move(options));
    PanelSupport support(&controller);

    bool ok = true;
    for (const QString &language : {QStringLiteral("de"), QStringLiteral("en")}) {
        QLocale::setDefault(QLocale(language));
        Translations::install(language);
        // A new panel picks up the language everywhere, the preset texts included.
        PanelWindow panel(PanelWindow::Kind::window,
                          {{QStringLiteral("controller"), QVariant::fromValue<QObject *>(&controller)},
                           {QStringLiteral("support"), QVariant::fromValue<QObject *>(&support)}});
        panel.open();
        auto save = [&](const char *state) {
            QTest::qWait(300); // switch animations end
            const QString file = QStringLiteral("%1/panel_%2_%3.png").arg(out, language, QLatin1String(state));
            ok = panel.view()->grabWindow().save(file) && ok;
        };
        controller.setEnabled(false);
        save("off");

        controller.setAutomatic(true);
        controller.setEnabled(true);
        engine->finishBuild();
        controller.consume({432.0, -31.8, 0.82}, 0.1);
        save("on");

        controller.askConsent(QStringLiteral("https://tuning.example.org"));
        QMetaObject::invokeMethod(panel.view()->rootObject()->findChild<QObject *>(QStringLiteral("consentGuard")),
                                  "triggered");
        save("consent");
        controller.resolveConsent(controller.pendingConsentOrigin(), false);

        controller.setEnabled(false);
        controller.setAutomatic(false);
        controller.setEnabled(true);
        engine->failBuild("Verbindung zu PipeWire herstellen");
        save("error");
        controller.revokeConsent(QStringLiteral("https://tuning.example.org"));
    }
    return ok ? 0 : 1;
}
