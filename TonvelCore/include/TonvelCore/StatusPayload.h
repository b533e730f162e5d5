// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <optional>

// Summary: the status document served to allowed web pages on the loopback status
// service. A plain value; the controller fills it, the status server serialises it.
//
// JSON form: compact, keys in byte order, all nine keys always present, `null` for absent
// and non-finite numbers, forward slashes in strings escaped ("\/"); numbers rounded to
// three decimals (halves away from zero) and written in shortest notation (432, not 432.0).
//
// Thread safety: a value type; copies may be used from any thread.
struct StatusPayload {
    enum class Method { pitchPreserving, resampling };

    // "pitch-preserving" / "resampling"; any other text gives no value.
    static std::optional<Method> methodFromRawValue(QStringView raw);
    static QString rawValue(Method method);

    QString version;
    bool isActive = false;
    std::optional<double> targetA4;   // Hz
    std::optional<double> sourceA4;   // Hz, detected in the source material
    std::optional<double> confidence;
    Method method = Method::pitchPreserving;
    std::optional<QString> presetID;
    std::optional<double> presetHz;

    StatusPayload() = default;
    StatusPayload(QString version, bool isActive, std::optional<double> targetA4 = std::nullopt,
                  std::optional<double> sourceA4 = std::nullopt,
                  std::optional<double> confidence = std::nullopt,
                  Method method = Method::pitchPreserving,
                  std::optional<QString> presetID = std::nullopt,
                  std::optional<double> presetHz = std::nullopt);

    // The nine entries of the document ("aktiv", "app", "preset", "presetHz",
    // "quellstimmung", "verfahren", "version", "vertrauen", "zielstimmung").
    QJsonObject jsonObject() const;
    // Compact UTF-8 JSON with sorted keys. Never empty.
    QByteArray jsonData() const;

    // Three decimals, halves away from zero; nullopt for absent or non-finite values.
    static std::optional<double> rounded(std::optional<double> value);

    // Doubles compare numerically, so a NaN field never compares equal.
    friend bool operator==(const StatusPayload &a, const StatusPayload &b);
};
