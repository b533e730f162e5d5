// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningPreset.h"

#include "TonvelCore/TuningMath.h"

#include <QDirIterator>
#include <QMap>
#include <QLocale>
#include <QTranslator>

#include <map>
#include <memory>
#include <mutex>

namespace {

const QString resourceDir = QStringLiteral(":/tonvelcore/i18n");
const QString filePrefix = QStringLiteral("tonvelcore_");
const QString fileSuffix = QStringLiteral(".qm");
const QString fallbackLanguage = QStringLiteral("en");

// The embedded translation files are found once by walking the resource prefix, so the lookup
// does not depend on how deep the build nests them. Translators are loaded on first use per
// language and kept for the process lifetime. They are never installed on the application:
// lookups go to them directly, so the application's own translators cannot shadow the preset
// texts or be shadowed by them.
class TranslationStore
{
public:
    static TranslationStore &instance()
    {
        static TranslationStore store;
        return store;
    }

    QStringList languages() const { return files_.keys(); }   // QMap keys: ascending

    // Empty optional when the language has no translation file.
    std::optional<QString> lookup(const QString &language, const QString &key)
    {
        std::lock_guard guard(mutex_);
        QTranslator *translator = translatorFor(language);
        if (!translator)
            return std::nullopt;
        const QByteArray utf8 = key.toUtf8();
        const QString text = translator->translate("", utf8.constData());
        return text.isEmpty() ? key : text;
    }

private:
    TranslationStore()
    {
        QDirIterator it(resourceDir, {filePrefix + u'*' + fileSuffix}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString name = it.fileName();
            const QString language = name.mid(filePrefix.size(), name.size() - filePrefix.size() - fileSuffix.size());
            if (!language.isEmpty() && !files_.contains(language))
                files_.insert(language, path);
        }
    }

    QTranslator *translatorFor(const QString &language)
    {
        auto it = translators_.find(language);
        if (it == translators_.end()) {
            // Exact language names only: QTranslator::load would fall back from "de_AT" to "de".
            auto translator = std::make_unique<QTranslator>();
            const auto file = files_.constFind(language);
            if (file == files_.cend() || !translator->load(*file))
                translator.reset();
            it = translators_.emplace(language, std::move(translator)).first;
        }
        return it->second.get();
    }

    QMap<QString, QString> files_;   // language -> resource path; fixed after construction
    std::mutex mutex_;
    std::map<QString, std::unique_ptr<QTranslator>> translators_;
};

QString currentLanguage()
{
    const QStringList available = TranslationStore::instance().languages();
    const QStringList wanted = QLocale().uiLanguages();
    for (const QString &entry : wanted) {
        QString name = entry;
        name.replace(u'-', u'_');
        if (available.contains(name))
            return name;
        const QString base = name.section(u'_', 0, 0);
        if (available.contains(base))
            return base;
    }
    return fallbackLanguage;
}

QString presetKey(const QString &id, const QString &suffix)
{
    return QStringLiteral("preset.") + id + u'.' + suffix;
}

} // namespace

TuningPreset::TuningPreset(QString id, QString title, std::optional<double> targetHz,
                           std::optional<QString> referenceNote, std::optional<double> referenceHz,
                           double factor)
    : id_(std::move(id))
    , title_(std::move(title))
    , targetHz_(targetHz)
    , referenceNote_(std::move(referenceNote))
    , referenceHz_(referenceHz)
    , factor_(factor)
{
}

double TuningPreset::cents() const
{
    return TuningMath::cents(factor_);
}

std::optional<QString> TuningPreset::referenceDescription() const
{
    if (!referenceNote_ || !referenceHz_)
        return std::nullopt;
    // arg(double) formats without locale: always a decimal point.
    return QStringLiteral("%1 = %2 Hz").arg(*referenceNote_).arg(*referenceHz_, 0, 'f', 3);
}

QString TuningPreset::keyword() const
{
    return localized(id_, QStringLiteral("keyword"));
}

QString TuningPreset::background() const
{
    return localized(id_, QStringLiteral("background"));
}

const QList<TuningPreset> &TuningPreset::all()
{
    // Stored as listed; the factors are data, not target / reference.
    static const QList<TuningPreset> table = {
        {QStringLiteral("off"), QStringLiteral("Aus / 440 Hz"), std::nullopt, std::nullopt, std::nullopt, 1.0},
        {QStringLiteral("432"), QStringLiteral("432 Hz"), 432.0, QStringLiteral("A4"), 440.0, 0.981818},
        {QStringLiteral("174"), QStringLiteral("174 Hz"), 174.0, QStringLiteral("F3"), 174.614, 0.996484},
        {QStringLiteral("285"), QStringLiteral("285 Hz"), 285.0, QStringLiteral("C#4"), 277.183, 1.028206},
        {QStringLiteral("396"), QStringLiteral("396 Hz"), 396.0, QStringLiteral("G4"), 391.995, 1.010217},
        {QStringLiteral("417"), QStringLiteral("417 Hz"), 417.0, QStringLiteral("G#4"), 415.305, 1.004081},
        {QStringLiteral("528"), QStringLiteral("528 Hz"), 528.0, QStringLiteral("C5"), 523.251, 1.009074},
        {QStringLiteral("639"), QStringLiteral("639 Hz"), 639.0, QStringLiteral("D#5"), 622.254, 1.026912},
        {QStringLiteral("741"), QStringLiteral("741 Hz"), 741.0, QStringLiteral("F#5"), 739.989, 1.001366},
        {QStringLiteral("852"), QStringLiteral("852 Hz"), 852.0, QStringLiteral("G#5"), 830.609, 1.025752},
        {QStringLiteral("963"), QStringLiteral("963 Hz"), 963.0, QStringLiteral("B5"), 987.767, 0.974926},
    };
    return table;
}

const TuningPreset &TuningPreset::off()
{
    return all().front();
}

std::optional<TuningPreset> TuningPreset::preset(const QString &id)
{
    for (const TuningPreset &p : all()) {
        if (p.id() == id)   // QString equality: exact and case-sensitive
            return p;
    }
    return std::nullopt;
}

QString TuningPreset::localized(const QString &id, const QString &suffix,
                                const std::optional<QString> &language)
{
    const QString key = presetKey(id, suffix);
    const QString lang = language ? *language : currentLanguage();
    return TranslationStore::instance().lookup(lang, key).value_or(key);
}

QStringList TuningPreset::availableLanguages()
{
    return TranslationStore::instance().languages();
}

size_t qHash(const TuningPreset &preset, size_t seed) noexcept
{
    // Absent values hash by their flag only; present values by flag and value, so equal
    // presets (operator==) always hash alike.
    return qHashMulti(seed, preset.id(), preset.title(),
                      preset.targetHz().has_value(), preset.targetHz().value_or(0.0),
                      preset.referenceNote().has_value(), preset.referenceNote().value_or(QString()),
                      preset.referenceHz().has_value(), preset.referenceHz().value_or(0.0),
                      preset.factor());
}
