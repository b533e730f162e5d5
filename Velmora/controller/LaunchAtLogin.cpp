// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/LaunchAtLogin.h"

#include "identity/AppIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

static const QLoggingCategory &lcLaunchAtLogin() { return AppIdentity::logCategory("LaunchAtLogin"); }

namespace LaunchAtLogin {

QString defaultEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
           + QString::fromLatin1(AppIdentity::applicationId) + QStringLiteral(".desktop");
}

QString defaultProgram()
{
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("velmora"));
    if (!installed.isEmpty())
        return installed;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/velmora");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QCoreApplication::applicationFilePath();
}

QString quoteExecArgument(const QString &argument)
{
    // Quoting rule of the Exec key first, then the escapes of a string value on top of it:
    // a literal backslash therefore ends up as four.
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString value = QStringLiteral("\"");
    for (const QChar c : quoted) {
        switch (c.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        case '%':
            value += QStringLiteral("%%");
            break; // not a field code
        default:
            value += c;
        }
    }
    return value + u'"';
}

QByteArray desktopEntry(const QString &program)
{
    const QString appId = QString::fromLatin1(AppIdentity::applicationId);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Velmora\n"
                          "Exec=%1 --autostart\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoteExecArgument(program), appId)
        .toUtf8();
}

bool set(const QString &entryPath, const QString &program, bool on)
{
    QString problem;
    if (on) {
        QDir().mkpath(QFileInfo(entryPath).absolutePath()); // a failure shows up at open()
        QSaveFile file(entryPath);
        const QByteArray bytes = desktopEntry(program);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            problem = file.errorString();
    } else {
        QFile file(entryPath);
        if (file.exists() && !file.remove())
            problem = file.errorString();
    }
    if (!problem.isEmpty()) {
        qCCritical(lcLaunchAtLogin).noquote()
            << QStringLiteral("Autostart liess sich nicht umschalten: %1").arg(problem);
        return false;
    }
    qCInfo(lcLaunchAtLogin).noquote()
        << QStringLiteral("Autostart %1geschaltet.").arg(on ? QStringLiteral("ein") : QStringLiteral("aus"));
    return true;
}

bool isEnabled(const QString &entryPath)
{
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

} // namespace LaunchAtLogin
