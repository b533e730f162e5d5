// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// LaunchAtLogin: starts Velmora when the user logs in, through an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/org.velmora.Velmora.desktop). The entry is written atomically,
// so a crash never leaves half a file that the session would try to run.
//
// Thread safety: plain functions on files; the controller calls them on its thread.
//
#include <QString>

namespace LaunchAtLogin {

// Writes (on) or removes (off) the entry that runs `program --autostart` (the tray program
// then opens no window). Logs the outcome; false when
// the file could not be written or removed.
bool set(const QString &entryPath, const QString &program, bool on);
// Whether the entry exists and is not switched off inside (Hidden=true,
// X-GNOME-Autostart-enabled=false).
bool isEnabled(const QString &entryPath);
// The complete entry for `program`.
QByteArray desktopEntry(const QString &program);
// $XDG_CONFIG_HOME/autostart/org.velmora.Velmora.desktop
QString defaultEntryPath();
// What the entry runs: the installed `velmora` on the PATH or beside, else the running program.
QString defaultProgram();
// `argument` as one Exec= argument: double-quoted, with `"`, `` ` ``, `$` and `\` escaped,
// then the value-level escapes (backslash, line breaks) and `%` doubled.
QString quoteExecArgument(const QString &argument);

} // namespace LaunchAtLogin
