// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli status, on, off, toggle, set: drive the running Velmora (the tray program or
// `velmora-cli live`) over the session bus. One call per step, so each command answers in a few
// milliseconds; values are checked here by the instance's own rules first, so a refused
// `set` changes nothing at all.
#include "CommandLine.h"
#include "Commands.h"
#include "dbus/VelmoraBus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace {

constexpr int callTimeoutMs = 5000;

// Qt's bus thread registers these on first use, racing the main thread in a short-lived
// process (warnings about invalid types on stderr at exit): registered before the bus starts.
void registerTypes()
{
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusError>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusVariant>();
}

class Remote {
public:
    explicit Remote(const char *command) : command_(command) {}

    // The reply, or nothing after the failure was reported (exitCode() tells the code).
    std::optional<QDBusMessage> call(const char *interface, const char *member, const QVariantList &args = {})
    {
        if (!bus_.isConnected())
            return fail(qtTrId("cli.remote.error.notRunning"));
        QDBusMessage m = QDBusMessage::createMethodCall(QLatin1String(VelmoraBus::service), QLatin1String(VelmoraBus::path),
                                                        QLatin1String(interface), QLatin1String(member));
        m.setArguments(args);
        const QDBusMessage reply = bus_.call(m, QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage)
            return reply;
        const QString name = reply.errorName();
        if (name == u"org.freedesktop.DBus.Error.ServiceUnknown" || name == u"org.freedesktop.DBus.Error.NameHasNoOwner")
            return fail(qtTrId("cli.remote.error.notRunning"));
        if (name == u"org.freedesktop.DBus.Error.NoReply" || name == u"org.freedesktop.DBus.Error.Timeout")
            return fail(qtTrId("cli.remote.error.noAnswer"));
        return fail(reply.errorMessage());
    }
    bool set(const char *property, const QVariant &value)
    {
        return call("org.freedesktop.DBus.Properties", "Set",
                    {QLatin1String(VelmoraBus::interface), QLatin1String(property), QVariant::fromValue(QDBusVariant(value))})
            .has_value();
    }
    std::optional<QVariantMap> properties()
    {
        const auto reply = call("org.freedesktop.DBus.Properties", "GetAll", {QLatin1String(VelmoraBus::interface)});
        if (!reply)
            return std::nullopt;
        return qdbus_cast<QVariantMap>(reply->arguments().value(0));
    }
    int exitCode() const { return exit_; }
    QDBusConnection bus() const { return bus_; }

private:
    std::nullopt_t fail(const QString &message)
    {
        std::fprintf(stderr, "velmora-cli %s: %s\n", command_, qPrintable(message));
        exit_ = 1;
        return std::nullopt;
    }

    const char *command_;
    QDBusConnection bus_ = (registerTypes(), QDBusConnection::sessionBus());
    int exit_ = 0;
};

QString onOff(bool on) { return on ? qtTrId("cli.status.on") : qtTrId("cli.status.off"); }
QString number(const QVariant &v, int decimals) { return QString::number(v.toDouble(), 'f', decimals); }

QString json(const QVariantMap &state)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(state)).toJson(QJsonDocument::Compact));
}

QString tuning(const QVariantMap &s)
{
    return s[u"Mode"_qs].toString() == u"freeA4" ? qtTrId("cli.status.free")
                                                  : qtTrId("cli.status.preset").arg(s[u"PresetID"_qs].toString());
}

// Several lines for a person.
QString report(const QVariantMap &s)
{
    QStringList lines{
        qtTrId("cli.status.switch").arg(onOff(s[u"Enabled"_qs].toBool()), s[u"ChainState"_qs].toString()),
        qtTrId("cli.status.target").arg(number(s[u"TargetA4"_qs], 1), tuning(s), number(s[u"Cents"_qs], 2)),
        qtTrId("cli.status.engine").arg(s[u"Engine"_qs].toString()),
        qtTrId("cli.status.auto")
            .arg(onOff(s[u"Automatic"_qs].toBool()), number(s[u"DetectedA4"_qs], 1),
                 number(s[u"Confidence"_qs], 2), number(s[u"Correction"_qs], 1)),
        qtTrId("cli.status.output")
            .arg(s[u"Output"_qs].toString(), number(s[u"SampleRate"_qs], 0), number(s[u"LatencyMs"_qs], 1),
                 s[u"Underruns"_qs].toString(), s[u"Rebuilds"_qs].toString()),
    };
    if (const QString error = s[u"LastError"_qs].toString(); !error.isEmpty())
        lines << qtTrId("cli.status.error").arg(error);
    return lines.join(u'\n');
}

// One line per change for a person.
QString line(const QVariantMap &s)
{
    return qtTrId("cli.status.line")
        .arg(onOff(s[u"Enabled"_qs].toBool()), number(s[u"TargetA4"_qs], 1), s[u"Engine"_qs].toString(),
             s[u"ChainState"_qs].toString(), number(s[u"DetectedA4"_qs], 1), s[u"Underruns"_qs].toString());
}

// Prints the state again on every PropertiesChanged until the instance goes or Ctrl-C.
class Follower : public QObject {
    Q_OBJECT
public:
    explicit Follower(bool asJson) : json_(asJson) {}
    void start(const QVariantMap &state)
    {
        state_ = state;
        started_ = true;
        print();
    }

public slots:
    void changed(const QString &interface, const QVariantMap &values, const QStringList &)
    {
        if (interface != QLatin1String(VelmoraBus::interface))
            return;
        for (auto it = values.begin(); it != values.end(); ++it)
            state_.insert(it.key(), it.value());
        if (started_)
            print();
    }

private:
    void print() const
    {
        std::printf("%s\n", qPrintable(json_ ? json(state_) : line(state_)));
        std::fflush(stdout);
    }

    QVariantMap state_;
    bool json_;
    bool started_ = false;
};

} // namespace

int cli::runStatus(const QStringList &args)
{
    CommandLine p("status", {{"json", {}}, {"follow", {}}});
    if (const auto exit = p.parse(args, [] { return qtTrId("cli.status.usage"); }))
        return *exit;
    if (!p.positional().isEmpty())
        return p.usageError(qtTrId("cli.remote.error.extra").arg(p.positional().join(u' ')));
    Remote remote("status");
    QDBusConnection bus = remote.bus();
    const bool asJson = p.isSet("json"), follow = p.isSet("follow");
    Follower follower(asJson);
    if (follow && bus.isConnected()) // before reading: no change falls in between
        bus.connect(QLatin1String(VelmoraBus::service), QLatin1String(VelmoraBus::path),
                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), &follower,
                    SLOT(changed(QString, QVariantMap, QStringList)));
    const std::optional<QVariantMap> state = remote.properties();
    if (!state)
        return remote.exitCode();
    if (!follow) {
        std::printf("%s\n", qPrintable(asJson ? json(*state) : report(*state)));
        return 0;
    }
    follower.start(*state);
    QDBusServiceWatcher watcher(QLatin1String(VelmoraBus::service), bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, [] {
        std::fprintf(stderr, "velmora-cli status: %s\n", qPrintable(qtTrId("cli.remote.error.ended")));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

// on, off, toggle: one call each.
static int runSwitch(const char *command, const QStringList &args, const std::function<bool(Remote &)> &act)
{
    cli::CommandLine p(command, {});
    if (const auto exit = p.parse(args, [command] { return qtTrId("cli.switch.usage").arg(QLatin1String(command)); }))
        return *exit;
    if (!p.positional().isEmpty())
        return p.usageError(qtTrId("cli.remote.error.extra").arg(p.positional().join(u' ')));
    Remote remote(command);
    return act(remote) ? 0 : remote.exitCode();
}

int cli::runOn(const QStringList &args)
{
    return runSwitch("on", args, [](Remote &r) { return r.set("Enabled", true); });
}

int cli::runOff(const QStringList &args)
{
    return runSwitch("off", args, [](Remote &r) { return r.set("Enabled", false); });
}

int cli::runToggle(const QStringList &args)
{
    return runSwitch("toggle", args, [](Remote &r) { return r.call(VelmoraBus::interface, "Toggle").has_value(); });
}

int cli::runSet(const QStringList &args)
{
    CommandLine p("set", {{"preset", {}, "ID"}, {"a4", {}, "HZ"}, {"engine", {}, "KIND"}, {"auto", {}}, {"no-auto", {}}});
    if (const auto exit = p.parse(args, [] { return qtTrId("cli.set.usage"); }))
        return *exit;
    const auto has = [&](const char *name) { return p.isSet(name); };
    if (!p.positional().isEmpty() || (has("preset") && has("a4")) || (has("auto") && has("no-auto"))
        || !(has("preset") || has("a4") || has("engine") || has("auto") || has("no-auto")))
        return p.usageError(qtTrId("cli.set.error.arguments"));

    // In the order they are written: the engine, then the tuning and its mode, then the switch.
    bool isNumber = false;
    const double a4 = p.value("a4").toDouble(&isNumber);
    QList<std::pair<const char *, QVariant>> writes;
    if (has("engine"))
        writes.append({"Engine", p.value("engine")});
    if (has("preset"))
        writes.append({{"PresetID", p.value("preset")}, {"Mode", QStringLiteral("preset")}});
    if (has("a4"))
        writes.append({{"FreeA4", isNumber ? a4 : std::nan("")}, {"Mode", QStringLiteral("freeA4")}});
    if (has("auto") || has("no-auto"))
        writes.append({"Automatic", has("auto")});
    for (const auto &[property, value] : writes)
        if (const QString why = VelmoraBus::refusal(QLatin1String(property), value); !why.isEmpty())
            return p.usageError(why);
    Remote remote("set");
    for (const auto &[property, value] : writes)
        if (!remote.set(property, value))
            return remote.exitCode();
    return 0;
}

#include "remote.moc"
