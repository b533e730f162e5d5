// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbus/MprisWatcher.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

namespace {

constexpr auto mprisPrefix = "org.mpris.MediaPlayer2.";

// Metadata arrives as a{sv}; its values may still be wrapped.
QVariantMap unwrap(const QVariant &v)
{
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(v.value<QDBusArgument>()) : v.toMap();
}

QString text(const QVariant &v)
{
    if (v.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return v.value<QDBusObjectPath>().path();
    if (v.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QStringList>(v.value<QDBusArgument>()).join(u", ");
    return v.toString();
}

} // namespace

MprisWatcher::MprisWatcher(QDBusConnection bus, QObject *parent) : QObject(parent)
{
    if (!bus.isConnected())
        return;
    // Every player uses the same path; the sender tells them apart.
    bus.connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

void MprisWatcher::propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
{
    if (interface != u"org.mpris.MediaPlayer2.Player" || !calledFromDBus())
        return;
    Player &p = players_[message().service()];
    if (const auto status = changed.find(QStringLiteral("PlaybackStatus")); status != changed.end())
        p.playing = status->toString() == u"Playing";
    const auto metadata = changed.find(QStringLiteral("Metadata"));
    if (metadata == changed.end())
        return;
    const QVariantMap m = unwrap(*metadata);
    QString track = text(m.value(QStringLiteral("mpris:trackid")));
    if (track.isEmpty() || track == u"/org/mpris/MediaPlayer2/TrackList/NoTrack")
        track = text(m.value(QStringLiteral("xesam:url")));
    const QString title = text(m.value(QStringLiteral("xesam:title")));
    if (track.isEmpty())
        track = title;
    if (track.isEmpty() || track == p.track)
        return;
    p.track = track;
    if (!p.playing)
        return;
    // The well-known name for the user; the unique one when the player has none.
    QString name = message().service();
    if (const QDBusConnectionInterface *bus = connection().interface()) {
        const QStringList names = bus->registeredServiceNames().value();
        for (const QString &n : names)
            if (n.startsWith(QLatin1String(mprisPrefix)) && bus->serviceOwner(n).value() == message().service()) {
                name = n.mid(int(qstrlen(mprisPrefix)));
                break;
            }
    }
    player_ = name;
    title_ = title;
    emit trackChanged(player_, title_);
}
