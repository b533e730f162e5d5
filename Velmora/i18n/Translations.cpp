// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {

const QString folder = QStringLiteral(":/i18n");

// "controller_de.qm" -> "de".
QString languageOf(const QString &file)
{
    return file.section(u'_', -1).section(u'.', 0, 0);
}

} // namespace

QStringList Translations::shippedLanguages()
{
    QStringList languages;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*_*.qm")}, QDir::Files)) {
        if (const QString language = languageOf(file); !languages.contains(language))
            languages.append(language);
    }
    languages.sort();
    return languages;
}

QString Translations::chooseLanguage(const QStringList &wanted)
{
    const QStringList shipped = shippedLanguages();
    for (const QString &entry : wanted) {
        const QString base = entry.section(u'-', 0, 0).section(u'_', 0, 0).toLower();
        if (shipped.contains(base))
            return base;
    }
    return QStringLiteral("en");
}

QString Translations::install(const QString &language)
{
    static std::vector<std::unique_ptr<QTranslator>> installed;
    for (const auto &translator : installed)
        QCoreApplication::removeTranslator(translator.get());
    installed.clear();

    const QString chosen = language.isEmpty() ? chooseLanguage(QLocale().uiLanguages()) : language;
    const QDir dir(folder);
    for (const QString &file :
         dir.entryList({QStringLiteral("*_") + chosen + QStringLiteral(".qm")}, QDir::Files)) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(dir.filePath(file)) && QCoreApplication::installTranslator(translator.get()))
            installed.push_back(std::move(translator));
    }
    return chosen;
}
