// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// MprisWatcher: notices when a playing media player on the session bus moves to another track
// (org.mpris.MediaPlayer2.Player's PropertiesChanged with new Metadata), so that the tuning
// detection can start afresh for a recording that may be tuned differently.
//
// A track counts as new when its id (mpris:trackid, else xesam:url, else the title) differs
// from the one the player announced before, and the player is playing (PlaybackStatus in the
// same signal or an earlier one). Without a session bus it stays silent.
//
// Threads
//   Main thread only; Qt DBus delivers the signals there.
//
#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QVariantMap>

class MprisWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    explicit MprisWatcher(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // What the detection follows: the player (its bus name without the MPRIS prefix) and the
    // title of its track; empty before the first change.
    QString player() const { return player_; }
    QString title() const { return title_; }

signals:
    void trackChanged(const QString &player, const QString &title);

private slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    struct Player {
        QString track;
        bool playing = false;
    };
    QHash<QString, Player> players_; // by unique bus name
    QString player_, title_;
};
