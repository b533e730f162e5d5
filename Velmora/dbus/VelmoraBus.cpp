// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbus/VelmoraBus.h"

#include "controller/TonvelController.h"
#include "identity/AppIdentity.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QMetaEnum>

#include <cmath>

namespace {

using Controller = TonvelController;

constexpr auto propertiesInterface = "org.freedesktop.DBus.Properties";

QString modeName(Controller::Mode mode) { return mode == Controller::Mode::freeA4 ? "freeA4" : "preset"; }

// One row per property: how it reads and, for the assignable ones, how a checked value is written.
struct Property {
    const char *name;
    QMetaType::Type type; // of the D-Bus value (doubles also accept integers)
    QVariant (*read)(const Controller &);
    void (*write)(Controller &, const QVariant &) = nullptr;
};

const Property table[] = {
    {"Enabled", QMetaType::Bool, [](const Controller &c) -> QVariant { return c.isEnabled(); },
     [](Controller &c, const QVariant &v) { c.setEnabled(v.toBool()); }},
    {"Mode", QMetaType::QString, [](const Controller &c) -> QVariant { return modeName(c.mode()); },
     [](Controller &c, const QVariant &v) {
         c.setMode(v.toString() == u"freeA4" ? Controller::Mode::freeA4 : Controller::Mode::preset);
     }},
    {"PresetID", QMetaType::QString, [](const Controller &c) -> QVariant { return c.selectedPresetID(); },
     [](Controller &c, const QVariant &v) { c.setSelectedPresetID(v.toString()); }},
    {"FreeA4", QMetaType::Double, [](const Controller &c) -> QVariant { return c.freeA4(); },
     [](Controller &c, const QVariant &v) { c.setFreeA4(v.toDouble()); }},
    {"Engine", QMetaType::QString,
     [](const Controller &c) -> QVariant { return QString::fromLatin1(EngineTable::spec(c.engine()).cliName); },
     [](Controller &c, const QVariant &v) { c.setEngine(EngineTable::named(v.toString().toStdString())->kind); }},
    {"Automatic", QMetaType::Bool, [](const Controller &c) -> QVariant { return c.automatic(); },
     [](Controller &c, const QVariant &v) { c.setAutomatic(v.toBool()); }},
    {"StatusServer", QMetaType::Bool, [](const Controller &c) -> QVariant { return c.statusServerEnabled(); },
     [](Controller &c, const QVariant &v) { c.setStatusServerEnabled(v.toBool()); }},
    {"ExcludedApps", QMetaType::QStringList, [](const Controller &c) -> QVariant { return c.excludedApps(); },
     [](Controller &c, const QVariant &v) { c.setExcludedApps(v.toStringList()); }},
    {"Active", QMetaType::Bool, [](const Controller &c) -> QVariant { return c.statusPayload().isActive; }},
    {"ChainState", QMetaType::QString,
     [](const Controller &c) -> QVariant {
         return QString::fromLatin1(QMetaEnum::fromType<Controller::ChainState>().valueToKey(int(c.chainState())));
     }},
    {"TargetA4", QMetaType::Double,
     [](const Controller &c) -> QVariant {
         return StatusPayload::rounded(c.statusPayload().targetA4).value_or(TuningMath::standardA4);
     }},
    {"Factor", QMetaType::Double, [](const Controller &c) -> QVariant { return c.effectiveFactor(); }},
    {"Cents", QMetaType::Double,
     [](const Controller &c) -> QVariant { return 1200.0 * std::log2(c.effectiveFactor()); }},
    {"DetectedA4", QMetaType::Double, [](const Controller &c) -> QVariant { return c.detectedA4(); }},
    {"Confidence", QMetaType::Double, [](const Controller &c) -> QVariant { return c.detectionConfidence(); }},
    {"Correction", QMetaType::Double, [](const Controller &c) -> QVariant { return c.appliedCorrectionCents(); }},
    {"Output", QMetaType::QString, [](const Controller &c) -> QVariant { return c.outputDeviceName(); }},
    {"SampleRate", QMetaType::Double, [](const Controller &c) -> QVariant { return c.sampleRate(); }},
    {"LatencyMs", QMetaType::Double, [](const Controller &c) -> QVariant { return c.latencySeconds() * 1000.0; }},
    {"Underruns", QMetaType::ULongLong, [](const Controller &c) -> QVariant { return c.underruns(); }},
    {"Rebuilds", QMetaType::Int, [](const Controller &c) -> QVariant { return c.rebuilds(); }},
    {"LastError", QMetaType::QString, [](const Controller &c) -> QVariant { return c.errorMessage(); }},
    {"Version", QMetaType::QString,
     [](const Controller &) -> QVariant { return QString::fromLatin1(AppIdentity::version); }},
};

const Property *find(const QString &name)
{
    for (const Property &p : table)
        if (name == QLatin1String(p.name))
            return &p;
    return nullptr;
}

bool isNumber(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Double: case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong:
    case QMetaType::ULongLong: case QMetaType::Short: case QMetaType::UShort: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

QString typeName(QMetaType::Type type)
{
    switch (type) {
    case QMetaType::Bool: return QStringLiteral("b (boolean)");
    case QMetaType::Double: return QStringLiteral("d (double)");
    case QMetaType::QStringList: return QStringLiteral("as (string array)");
    default: return QStringLiteral("s (string)");
    }
}

} // namespace

VelmoraBus::VelmoraBus(TonvelController &controller, Hooks hooks, QObject *parent)
    : QDBusVirtualObject(parent), controller_(controller), hooks_(std::move(hooks)), bus_(QString())
{
    announceTimer_.setSingleShot(true);
    connect(&announceTimer_, &QTimer::timeout, this, &VelmoraBus::announce);
    connect(&controller_, &TonvelController::changed, this, &VelmoraBus::schedule);
    announced_ = properties();
    sinceAnnounced_.start();
}

VelmoraBus::~VelmoraBus()
{
    if (bus_.isConnected()) {
        bus_.unregisterObject(QLatin1String(path));
        bus_.unregisterService(QLatin1String(service));
    }
}

VelmoraBus::Claim VelmoraBus::claim(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.registerVirtualObject(QLatin1String(path), this))
        return Claim::noBus;
    bus_ = bus;
    const auto reply = bus.interface()->registerService(QLatin1String(service), QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return Claim::noBus;
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? Claim::owned : Claim::taken;
}

QString VelmoraBus::refusal(const QString &property, const QVariant &value)
{
    const Property *p = find(property);
    if (!p)
        return qtTrId("dbus.error.unknownProperty").arg(property);
    if (!p->write)
        return qtTrId("dbus.error.readOnly").arg(property);
    const bool typed = p->type == QMetaType::Double ? isNumber(value) : value.metaType().id() == p->type;
    if (!typed)
        return qtTrId("dbus.error.type").arg(property, typeName(p->type));
    const QString text = value.toString();
    if (property == u"Mode" && text != u"preset" && text != u"freeA4")
        return qtTrId("dbus.error.mode").arg(text);
    if (property == u"PresetID" && !TuningPreset::preset(text))
        return qtTrId("dbus.error.preset").arg(text);
    if (property == u"FreeA4" && !TuningMath::freeA4Range.contains(value.toDouble())) // NaN fails too
        return qtTrId("dbus.error.a4")
            .arg(TuningMath::freeA4Range.lowerBound)
            .arg(TuningMath::freeA4Range.upperBound)
            .arg(value.toDouble());
    if (property == u"Engine" && !EngineTable::named(text.toStdString()))
        return qtTrId("dbus.error.engine").arg(text);
    return {};
}

QVariantMap VelmoraBus::properties() const
{
    QVariantMap map;
    for (const Property &p : table)
        map.insert(QLatin1String(p.name), p.read(controller_));
    return map;
}

QString VelmoraBus::introspect(const QString &) const
{
    // The installed description is the one source; Qt adds the standard interfaces around it.
    QFile file(QStringLiteral(":/velmora/dbus/org.velmora.Velmora1.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString xml = QString::fromUtf8(file.readAll());
    const qsizetype from = xml.indexOf(QLatin1String("<interface")), to = xml.lastIndexOf(QLatin1String("</node>"));
    return from < 0 || to < from ? QString() : xml.mid(from, to - from);
}

bool VelmoraBus::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    QDBusMessage reply;
    if (message.interface() == QLatin1String(propertiesInterface))
        reply = callProperties(message);
    else if (message.interface() == QLatin1String(interface) || message.interface().isEmpty())
        reply = callMethod(message);
    else
        return false; // Introspectable and Peer: Qt answers
    if (reply.type() == QDBusMessage::InvalidMessage)
        return false;
    connection.send(reply);
    return true;
}

QDBusMessage VelmoraBus::callProperties(const QDBusMessage &m)
{
    const QVariantList args = m.arguments();
    const QString member = m.member();
    const bool ours = !args.isEmpty() && (args[0].toString() == QLatin1String(interface) || args[0].toString().isEmpty());
    const auto unknown = [&](const QString &name) {
        return m.createErrorReply(QDBusError::UnknownProperty, qtTrId("dbus.error.unknownProperty").arg(name));
    };
    if (member == u"GetAll" && args.size() == 1)
        return m.createReply(QVariant::fromValue(ours ? properties() : QVariantMap()));
    if (member == u"Get" && args.size() == 2) {
        const Property *p = ours ? find(args[1].toString()) : nullptr;
        return p ? m.createReply(QVariant::fromValue(QDBusVariant(p->read(controller_)))) : unknown(args[1].toString());
    }
    if (member == u"Set" && args.size() == 3) {
        if (!ours || !find(args[1].toString()))
            return unknown(args[1].toString());
        return write(m, args[1].toString(), args[2].value<QDBusVariant>().variant());
    }
    return m.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("%1.%2").arg(m.interface(), member));
}

QDBusMessage VelmoraBus::write(const QDBusMessage &m, const QString &property, const QVariant &value)
{
    const Property *p = find(property);
    if (const QString why = refusal(property, value); !why.isEmpty())
        return m.createErrorReply(p->write ? QLatin1String(invalidValueError)
                                           : QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                  why);
    if (property == u"Enabled")
        emit enabledRequested(value.toBool());
    p->write(controller_, value);
    emit written(property);
    return m.createReply();
}

QDBusMessage VelmoraBus::callMethod(const QDBusMessage &m)
{
    const QString member = m.member();
    if (!m.arguments().isEmpty())
        return m.createErrorReply(QDBusError::InvalidArgs, member);
    if (member == u"Toggle") {
        emit enabledRequested(!controller_.isEnabled());
        controller_.setEnabled(!controller_.isEnabled());
        return m.createReply();
    }
    if (member == u"ShowPanel") {
        if (!hooks_.showPanel)
            return m.createErrorReply(QDBusError::NotSupported, qtTrId("dbus.error.noPanel"));
        QMetaObject::invokeMethod(this, hooks_.showPanel, Qt::QueuedConnection);
        return m.createReply();
    }
    if (member == u"Quit") {
        if (hooks_.quit) // after the answer has gone out
            QMetaObject::invokeMethod(this, hooks_.quit, Qt::QueuedConnection);
        return m.createReply();
    }
    return m.createErrorReply(QDBusError::UnknownMethod, member);
}

// Announces at once when the last announcement is 100 ms old, otherwise when it will be.
void VelmoraBus::schedule()
{
    if (announceTimer_.isActive())
        return;
    announceTimer_.start(int(std::max<qint64>(0, 100 - sinceAnnounced_.elapsed())));
}

void VelmoraBus::announce()
{
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (announced_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    announced_ = now;
    if (changed.isEmpty() || !bus_.isConnected())
        return;
    sinceAnnounced_.restart();
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(path), QLatin1String(propertiesInterface),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QLatin1String(interface) << changed << QStringList();
    bus_.send(signal);
}
