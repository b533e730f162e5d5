// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/StatusPayload.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <utility>

namespace {

QJsonValue numberOrNull(std::optional<double> value)
{
    const auto r = StatusPayload::rounded(value);
    return r ? QJsonValue(*r) : QJsonValue(QJsonValue::Null);
}

bool sameNumber(const std::optional<double> &a, const std::optional<double> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || *a == *b;
}

} // namespace

StatusPayload::StatusPayload(QString version, bool isActive, std::optional<double> targetA4,
                             std::optional<double> sourceA4, std::optional<double> confidence,
                             Method method, std::optional<QString> presetID,
                             std::optional<double> presetHz)
    : version(std::move(version)), isActive(isActive), targetA4(targetA4), sourceA4(sourceA4),
      confidence(confidence), method(method), presetID(std::move(presetID)), presetHz(presetHz)
{
}

std::optional<StatusPayload::Method> StatusPayload::methodFromRawValue(QStringView raw)
{
    if (raw == u"pitch-preserving")
        return Method::pitchPreserving;
    if (raw == u"resampling")
        return Method::resampling;
    return std::nullopt;
}

QString StatusPayload::rawValue(Method method)
{
    return method == Method::resampling ? QStringLiteral("resampling")
                                        : QStringLiteral("pitch-preserving");
}

std::optional<double> StatusPayload::rounded(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    const double r = std::round(*value * 1000.0) / 1000.0;
    // Only magnitudes near the double limit overflow when scaled; they carry no
    // fraction anyway, so keep them instead of handing the writer an infinity.
    return std::isfinite(r) ? r : *value;
}

QJsonObject StatusPayload::jsonObject() const
{
    QJsonObject o;
    o.insert(QStringLiteral("app"), QStringLiteral("velmora"));
    o.insert(QStringLiteral("version"), version);
    o.insert(QStringLiteral("aktiv"), isActive);
    o.insert(QStringLiteral("zielstimmung"), numberOrNull(targetA4));
    o.insert(QStringLiteral("quellstimmung"), numberOrNull(sourceA4));
    o.insert(QStringLiteral("vertrauen"), numberOrNull(confidence));
    o.insert(QStringLiteral("verfahren"), rawValue(method));
    o.insert(QStringLiteral("preset"),
             presetID ? QJsonValue(*presetID) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("presetHz"), numberOrNull(presetHz));
    return o;
}

QByteArray StatusPayload::jsonData() const
{
    // QJsonObject keeps its keys sorted, and the compact writer puts no space between tokens.
    QByteArray bytes = QJsonDocument(jsonObject()).toJson(QJsonDocument::Compact);
    // Forward slashes are written escaped ("\/"), like the consent file. A '/' can only
    // occur inside a string here, so this touches nothing else.
    return bytes.replace("/", "\\/");
}

bool operator==(const StatusPayload &a, const StatusPayload &b)
{
    return a.version == b.version && a.isActive == b.isActive && sameNumber(a.targetA4, b.targetA4)
        && sameNumber(a.sourceA4, b.sourceA4) && sameNumber(a.confidence, b.confidence)
        && a.method == b.method && a.presetID == b.presetID && sameNumber(a.presetHz, b.presetHz);
}
