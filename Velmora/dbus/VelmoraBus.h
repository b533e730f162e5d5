// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// VelmoraBus: the controller on the session bus, so that scripts, shortcuts and status bars
// drive the running instance (interface in org.velmora.Velmora1.xml). A thin layer over
// TonvelController's properties: writes are checked by the same rules as on the panel (a value
// out of range is refused with a reason, nothing changes) and then go through its setters, so
// they are saved as the panel's are.
//
// PropertiesChanged carries what differs from the last announcement, at most ten times per
// second: fast readouts (underruns, detection) collapse, a switch shows within 100 ms.
//
// Threads
//   Main thread only (the controller's); Qt DBus delivers calls on the object's thread.
//
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTimer>
#include <QVariantMap>

#include <functional>

class TonvelController;

class VelmoraBus : public QDBusVirtualObject {
    Q_OBJECT
public:
    static constexpr const char *service = "org.velmora.Velmora";
    static constexpr const char *path = "/org/velmora/Velmora";
    static constexpr const char *interface = "org.velmora.Velmora1";
    static constexpr const char *invalidValueError = "org.velmora.Velmora.Error.InvalidValue";

    // What only the program knows how to do; an empty showPanel answers NotSupported.
    struct Hooks {
        std::function<void()> showPanel;
        std::function<void()> quit;
    };

    VelmoraBus(TonvelController &controller, Hooks hooks, QObject *parent = nullptr);
    ~VelmoraBus() override;

    enum class Claim { owned, taken, noBus };
    // Exports the object on `bus` and asks for the well-known name (not queued behind an
    // owner: a second instance learns at once that it is one).
    Claim claim(QDBusConnection bus = QDBusConnection::sessionBus());

    // Why `value` may not be written to `property`, in the user's language; empty when it may.
    // Also used by clients to refuse a command before it changes anything.
    static QString refusal(const QString &property, const QVariant &value);
    // The interface's properties and their values now.
    QVariantMap properties() const;

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

signals:
    // A client is about to switch retuning (Enabled or Toggle): a stop that follows is theirs.
    void enabledRequested(bool on);
    // A client's write of `property` was accepted and applied.
    void written(const QString &property);

private:
    QDBusMessage callProperties(const QDBusMessage &message);
    QDBusMessage callMethod(const QDBusMessage &message);
    QDBusMessage write(const QDBusMessage &message, const QString &property, const QVariant &value);
    void schedule();
    void announce();

    TonvelController &controller_;
    Hooks hooks_;
    QDBusConnection bus_;
    QVariantMap announced_;
    QTimer announceTimer_;
    QElapsedTimer sinceAnnounced_;
};
