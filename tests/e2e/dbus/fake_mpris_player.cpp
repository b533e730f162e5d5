// SPDX-License-Identifier: GPL-3.0-or-later
// A media player as far as the session bus can tell: owns org.mpris.MediaPlayer2.velmora_e2e and,
// for each line "TRACK-ID TITLE..." on stdin, announces that track as playing (PropertiesChanged
// on org.mpris.MediaPlayer2.Player). Prints "ready" once it owns its name; ends at end of input.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.velmora_e2e"))) {
        std::fprintf(stderr, "fake_mpris_player: no name on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line))
            return QCoreApplication::quit();
        const QString text = QString::fromStdString(line).trimmed();
        const QString id = text.section(u' ', 0, 0), title = text.section(u' ', 1);
        QVariantMap metadata{{QStringLiteral("mpris:trackid"),
                              QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/velmora/e2e/") + id))},
                             {QStringLiteral("xesam:title"), title}};
        QDBusMessage m = QDBusMessage::createSignal(QStringLiteral("/org/mpris/MediaPlayer2"),
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("PropertiesChanged"));
        m << QStringLiteral("org.mpris.MediaPlayer2.Player")
          << QVariantMap{{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
                         {QStringLiteral("Metadata"), metadata}}
          << QStringList();
        bus.send(m);
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"))); // flushed
        std::printf("announced %s\n", qPrintable(id));
        std::fflush(stdout);
    });
    return QCoreApplication::exec();
}
