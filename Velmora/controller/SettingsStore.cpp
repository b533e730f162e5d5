// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/SettingsStore.h"

#include "identity/AppIdentity.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

static const QLoggingCategory &lcSettings() { return AppIdentity::logCategory("Controller"); }

namespace {

// INI keeps text only: a value counts when it reads back as exactly what we would write.
std::optional<bool> boolValue(const QVariant &v)
{
    if (!v.isValid())
        return std::nullopt;
    const QString s = v.toString().trimmed().toLower();
    if (s == u"true" || s == u"1")
        return true;
    if (s == u"false" || s == u"0")
        return false;
    return std::nullopt;
}

std::optional<int> intValue(const QVariant &v)
{
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return v.isValid() && ok ? std::optional<int>(n) : std::nullopt;
}

std::optional<double> doubleValue(const QVariant &v)
{
    bool ok = false;
    const double x = v.toString().trimmed().toDouble(&ok);
    return v.isValid() && ok && std::isfinite(x) ? std::optional<double>(x) : std::nullopt;
}

// Application keys: text entries only, trimmed, without empties or repeats.
QStringList appList(const QVariant &v)
{
    QStringList out;
    if (v.metaType().id() != QMetaType::QStringList && v.metaType().id() != QMetaType::QString)
        return out;
    for (const QString &entry : v.toStringList())
        if (const QString key = entry.trimmed(); !key.isEmpty() && key.size() <= 256 && !out.contains(key))
            out.append(key);
    return out;
}

// One device's tuning as JSON, and back; nothing unless every field is acceptable.
QJsonObject tuningJson(const SettingsStore::DeviceTuning &t)
{
    return {{QStringLiteral("mode"), t.freeMode ? QStringLiteral("freeA4") : QStringLiteral("preset")},
            {QStringLiteral("presetID"), t.presetID},
            {QStringLiteral("freeA4"), t.freeA4},
            {QStringLiteral("engine"), EngineTable::spec(t.engine).rawValue},
            {QStringLiteral("automatic"), t.automatic},
            {QStringLiteral("enabled"), t.enabled}};
}

std::optional<SettingsStore::DeviceTuning> tuningFrom(const QJsonObject &o)
{
    SettingsStore::DeviceTuning t;
    const QString mode = o.value(QStringLiteral("mode")).toString();
    const auto engine = EngineTable::fromRawValue(o.value(QStringLiteral("engine")).toInt(-1));
    const double a4 = o.value(QStringLiteral("freeA4")).toDouble(-1.0);
    t.presetID = o.value(QStringLiteral("presetID")).toString();
    if ((mode != u"preset" && mode != u"freeA4") || !engine || !TuningPreset::preset(t.presetID)
        || !TuningMath::freeA4Range.contains(a4) || !o.value(QStringLiteral("automatic")).isBool()
        || !o.value(QStringLiteral("enabled")).isBool())
        return std::nullopt;
    t.freeMode = mode == u"freeA4";
    t.freeA4 = a4;
    t.engine = *engine;
    t.automatic = o.value(QStringLiteral("automatic")).toBool();
    t.enabled = o.value(QStringLiteral("enabled")).toBool();
    return t;
}

} // namespace

SettingsStore::SettingsStore(const QString &path, bool writable)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)), writable_(writable)
{
    if (settings_->status() == QSettings::NoError)
        return;
    settings_ = std::make_unique<QSettings>(QString(), QSettings::IniFormat); // restores nothing
    if (!writable_)
        return; // nothing will be written over the file: it can stay where it is
    // Unreadable or unparsable: keep the user's file aside before anything is written over it.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target) && n < 100; ++n)
        target = path + QStringLiteral(".unreadable-") + stamp + u'-' + QString::number(n);
    if (QFile::rename(path, target)) {
        qCWarning(lcSettings).noquote()
            << QStringLiteral("Einstellungsdatei %1 unlesbar; beiseitegelegt als %2").arg(path, target);
        settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
    } else {
        qCWarning(lcSettings).noquote()
            << QStringLiteral("Einstellungsdatei %1 unlesbar und nicht beiseitezulegen; "
                              "Einstellungen werden in diesem Lauf nicht gespeichert")
                   .arg(path);
        writable_ = false;
    }
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Velmora/Velmora.conf");
}

SettingsStore::Restored SettingsStore::restore() const
{
    const QSettings &s = *settings_;
    Restored r;
    const QString mode = s.value(QStringLiteral("mode")).toString();
    if (mode == u"preset" || mode == u"freeA4")
        r.freeMode = mode == u"freeA4";
    if (const QString id = s.value(QStringLiteral("presetID")).toString(); TuningPreset::preset(id))
        r.presetID = id;
    if (const auto raw = intValue(s.value(QStringLiteral("engine"))))
        r.engine = EngineTable::fromRawValue(*raw);
    r.automatic = boolValue(s.value(QStringLiteral("automatic"))).value_or(false);
    r.statusServer = boolValue(s.value(QStringLiteral("statusServer")));
    if (const auto hz = doubleValue(s.value(QStringLiteral("freeA4"))); hz && TuningMath::freeA4Range.contains(*hz))
        r.freeA4 = hz;
    r.everStarted = boolValue(s.value(QStringLiteral("everStarted"))).value_or(false);
    r.shouldResume = boolValue(s.value(QStringLiteral("enabled"))).value_or(false) && r.everStarted;
    r.excludedApps = appList(s.value(QStringLiteral("excludedApps")));
    r.retuneCalls = boolValue(s.value(QStringLiteral("retuneCalls"))).value_or(false);
    r.perDevice = boolValue(s.value(QStringLiteral("rememberPerDevice"))).value_or(false);
    const QJsonObject devices =
        QJsonDocument::fromJson(s.value(QStringLiteral("deviceChoices")).toString().toUtf8()).object();
    for (auto it = devices.begin(); it != devices.end(); ++it)
        if (const auto t = tuningFrom(it.value().toObject()); t && !it.key().isEmpty())
            r.devices.insert(it.key(), *t);
    return r;
}

SettingsStore::Choice SettingsStore::choiceFrom(const Restored &r)
{
    return {r.freeMode.value_or(false), r.presetID.value_or(QStringLiteral("432")),
            r.freeA4.value_or(440.0),   r.shouldResume,
            r.engine.value_or(EngineKind::lowLatency), r.automatic,
            r.statusServer.value_or(true), r.excludedApps, r.retuneCalls, r.perDevice, r.devices};
}

void SettingsStore::save(const Choice &c)
{
    if (!writable_)
        return;
    QSettings &s = *settings_;
    s.setValue(QStringLiteral("mode"), c.freeMode ? QStringLiteral("freeA4") : QStringLiteral("preset"));
    s.setValue(QStringLiteral("presetID"), c.presetID);
    s.setValue(QStringLiteral("freeA4"), c.freeA4);
    s.setValue(QStringLiteral("enabled"), c.enabled);
    s.setValue(QStringLiteral("engine"), EngineTable::spec(c.engine).rawValue);
    s.setValue(QStringLiteral("automatic"), c.automatic);
    s.setValue(QStringLiteral("statusServer"), c.statusServer);
    s.setValue(QStringLiteral("excludedApps"), c.excludedApps);
    s.setValue(QStringLiteral("retuneCalls"), c.retuneCalls);
    s.setValue(QStringLiteral("rememberPerDevice"), c.perDevice);
    QJsonObject devices;
    for (auto it = c.devices.begin(); it != c.devices.end(); ++it)
        devices.insert(it.key(), tuningJson(it.value()));
    s.setValue(QStringLiteral("deviceChoices"),
               QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Compact)));
    sync();
}

void SettingsStore::markEverStarted()
{
    if (!writable_)
        return;
    settings_->setValue(QStringLiteral("everStarted"), true);
    sync();
}

void SettingsStore::sync()
{
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        qCWarning(lcSettings).noquote()
            << QStringLiteral("Einstellungen nicht gespeichert: %1").arg(settings_->fileName());
}
