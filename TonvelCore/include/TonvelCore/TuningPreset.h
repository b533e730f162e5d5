// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>

// One entry of the fixed table of tuning presets the user chooses from.
//
// The factor of each preset is stored data, never derived from targetHz / referenceHz:
// the stored literals differ from the quotient in the sixth decimal for some presets, and
// the stored value is what the engines receive.
//
// Keyword and background texts are id-based translations embedded in the core library as
// "tonvelcore_<language>.qm" under ":/tonvelcore/i18n"; a key without a translation yields
// the key itself. All members may be called from any thread.
class TuningPreset
{
public:
    TuningPreset(QString id, QString title, std::optional<double> targetHz,
                 std::optional<QString> referenceNote, std::optional<double> referenceHz,
                 double factor);

    const QString &id() const { return id_; }
    const QString &title() const { return title_; }
    const std::optional<double> &targetHz() const { return targetHz_; }
    const std::optional<QString> &referenceNote() const { return referenceNote_; }
    const std::optional<double> &referenceHz() const { return referenceHz_; }
    double factor() const { return factor_; }

    // 1200 * log2(factor).
    double cents() const;
    // "A4 = 440.000 Hz"; absent unless both the note and its frequency are present.
    std::optional<QString> referenceDescription() const;
    // Localised texts "preset.<id>.keyword" / "preset.<id>.background" in the current language.
    QString keyword() const;
    QString background() const;

    // The eleven presets in display order; built once.
    static const QList<TuningPreset> &all();
    // The first entry of all(): no retuning.
    static const TuningPreset &off();
    // Exact, case-sensitive match on id; absent when nothing matches.
    static std::optional<TuningPreset> preset(const QString &id);
    // Text of "preset.<id>.<suffix>". Without a language: the current language (the first of
    // the locale's UI languages that has a translation, else English). With a language that
    // has no translation file, or with an untranslated key: the key itself.
    static QString localized(const QString &id, const QString &suffix,
                             const std::optional<QString> &language = std::nullopt);
    // Languages with an embedded translation file, ascending ("de", "en").
    static QStringList availableLanguages();

    friend bool operator==(const TuningPreset &, const TuningPreset &) = default;

private:
    QString id_;
    QString title_;
    std::optional<double> targetHz_;
    std::optional<QString> referenceNote_;
    std::optional<double> referenceHz_;
    double factor_;
};

size_t qHash(const TuningPreset &preset, size_t seed = 0) noexcept;

template <>
struct std::hash<TuningPreset>
{
    size_t operator()(const TuningPreset &preset) const noexcept { return qHash(preset); }
};
