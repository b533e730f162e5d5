// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningPreset.h"

#include <gtest/gtest.h>

#include <QLocale>

namespace {

// Display order. Every preset but "off" moves the equal-tempered note nearest its frequency onto
// that frequency: its factor is target / reference to within 2e-5 (0.03 cents).
constexpr const char *ids[] = {"off", "432", "174", "285", "396", "417", "528", "639", "741", "852", "963"};

TEST(TuningPresetTable, holds_the_eleven_presets_in_order_each_moving_its_note_onto_its_target)
{
    const QList<TuningPreset> &all = TuningPreset::all();
    ASSERT_EQ(all.size(), 11);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(all[i].id(), QLatin1String(ids[i]));
    EXPECT_FALSE(all[0].targetHz() || all[0].referenceNote() || all[0].referenceHz());
    EXPECT_EQ(all[0].factor(), 1.0);
    EXPECT_EQ(all[0].title(), QStringLiteral("Aus / 440 Hz"));
    for (int i = 1; i < 11; ++i) {
        const TuningPreset &p = all[i];
        ASSERT_TRUE(p.targetHz() && p.referenceNote() && p.referenceHz()) << ids[i];
        EXPECT_NEAR(p.factor(), *p.targetHz() / *p.referenceHz(), 2e-5) << ids[i];
    }
    EXPECT_NEAR(TuningPreset::preset(QStringLiteral("432"))->cents(), -31.767, 0.001);
}

// Lookup is exact and case-sensitive; the reference is named with three decimals.
TEST(TuningPresetLookup, is_exact_and_names_the_reference_note_and_frequency)
{
    EXPECT_EQ(TuningPreset::preset(QStringLiteral("off")), TuningPreset::all().front());
    EXPECT_EQ(TuningPreset::preset(QStringLiteral("963")), TuningPreset::all().back());
    for (const char *id : {"OFF", "Off", "", "440", " 432", "432 ", "4320"})
        EXPECT_FALSE(TuningPreset::preset(QString::fromLatin1(id)).has_value()) << id;
    EXPECT_EQ(TuningPreset::preset(QStringLiteral("432"))->referenceDescription(), QStringLiteral("A4 = 440.000 Hz"));
    EXPECT_EQ(TuningPreset::preset(QStringLiteral("174"))->referenceDescription(), QStringLiteral("F3 = 174.614 Hz"));
    EXPECT_FALSE(TuningPreset::off().referenceDescription().has_value());
    const TuningPreset noteOnly(QStringLiteral("x"), QStringLiteral("X"), 1.0, QStringLiteral("A4"), std::nullopt, 1.0);
    EXPECT_FALSE(noteOnly.referenceDescription().has_value());
}

TEST(TuningPresetTexts, german_and_english_are_embedded_and_complete)
{
    EXPECT_EQ(TuningPreset::availableLanguages(), (QStringList{QStringLiteral("de"), QStringLiteral("en")}));
    for (const TuningPreset &p : TuningPreset::all()) {
        for (const QString &suffix : {QStringLiteral("keyword"), QStringLiteral("background")}) {
            const QString key = QStringLiteral("preset.") + p.id() + u'.' + suffix;
            const QString de = TuningPreset::localized(p.id(), suffix, QStringLiteral("de"));
            const QString en = TuningPreset::localized(p.id(), suffix, QStringLiteral("en"));
            EXPECT_NE(de, key);
            EXPECT_NE(en, key);
            if (suffix == QStringLiteral("background")) {
                EXPECT_NE(de, en) << qPrintable(key);
            }
        }
    }
    EXPECT_EQ(TuningPreset::localized(QStringLiteral("528"), QStringLiteral("keyword"), QStringLiteral("de")),
              QString::fromUtf8("Die \u201eLiebesfrequenz\u201c"));
}

TEST(TuningPresetTexts, unknown_language_or_key_yields_the_key)
{
    // Exact language names only: no regional variants, no paths.
    const char *cases[][3] = {{"528", "keyword", "fr"}, {"528", "keyword", "de_AT"}, {"528", "keyword", "../de"},
                              {"528", "keyword", ""},   {"999", "keyword", "de"},    {"528", "title", "en"}};
    for (const auto &[id, key, language] : cases)
        EXPECT_EQ(TuningPreset::localized(QLatin1String(id), QLatin1String(key), QLatin1String(language)),
                  QStringLiteral("preset.%1.%2").arg(QLatin1String(id), QLatin1String(key)));
}

TEST(TuningPresetTexts, current_language_follows_the_locale_and_falls_back_to_english)
{
    const TuningPreset p = *TuningPreset::preset(QStringLiteral("432"));
    const std::pair<QLocale, QString> cases[] = {{QLocale(QLocale::German, QLocale::Austria), QStringLiteral("de")},
                                                 {QLocale(QLocale::French, QLocale::France), QStringLiteral("en")},
                                                 {QLocale(QLocale::English, QLocale::UnitedKingdom), QStringLiteral("en")}};
    for (const auto &[locale, language] : cases) {
        QLocale::setDefault(locale);
        EXPECT_EQ(p.keyword(), TuningPreset::localized(p.id(), QStringLiteral("keyword"), language));
        EXPECT_EQ(p.background(), TuningPreset::localized(p.id(), QStringLiteral("background"), language));
    }
    QLocale::setDefault(QLocale::c());
}

} // namespace
