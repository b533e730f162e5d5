// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The texts a person reads, in German or English, for every program. Each part embeds its
// id-based tables as :/i18n/<table>_<language>.qm (the controller's come with VelmoraLib, the
// tray program and velmora-cli add their own); install() puts every table of one language on
// the application, so qtTrId finds any key wherever it lives. A key without a translation
// shows the key. Main thread only.
namespace Translations {

// Languages with at least one table, ascending ("de", "en").
QStringList shippedLanguages();
// The first of `wanted` (QLocale().uiLanguages(): LANGUAGE, LC_ALL, LC_MESSAGES, LANG) that is
// shipped, compared by language alone ("de-AT" is "de"); English when none is.
QString chooseLanguage(const QStringList &wanted);
// Installs every table in `language`, or in the user's language when it is empty, replacing
// what an earlier call installed. Returns the language installed.
QString install(const QString &language = {});

} // namespace Translations
