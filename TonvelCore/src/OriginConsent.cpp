// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/OriginConsent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcConsent, VELMORA_APP_ID ".OriginConsent")

namespace {

// A consent file is a few kilobytes; anything far larger is not ours to parse.
constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

void appendJsonString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

QString isoText(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODate);   // 2026-12-05T11:39:50Z
}

std::optional<QDateTime> parseIsoDateTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:?\d{2})$)"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid())
        return std::nullopt;
    return t.toUTC();
}

QDateTime wholeSecondsUtc(const QDateTime &t)
{
    return QDateTime::fromSecsSinceEpoch(t.toSecsSinceEpoch(), Qt::UTC);
}

} // namespace

QString OriginConsent::rawValue(Decision decision)
{
    return decision == Decision::allowed ? QStringLiteral("allowed") : QStringLiteral("denied");
}

std::optional<OriginConsent::Decision> OriginConsent::decisionFromRawValue(QStringView raw)
{
    if (raw == u"allowed")
        return Decision::allowed;
    if (raw == u"denied")
        return Decision::denied;
    return std::nullopt;
}

QDateTime OriginConsent::systemNow()
{
    return QDateTime::currentDateTimeUtc();
}

QString OriginConsent::defaultStorePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Velmora/einwilligungen.json");
}

OriginConsent::OriginConsent(QString storePath, double askTimeoutSeconds, Clock now)
    : m_storePath(std::move(storePath)), m_askTimeout(askTimeoutSeconds),
      m_now(now ? std::move(now) : Clock(&OriginConsent::systemNow))
{
    load();
}

OriginConsent::Outcome OriginConsent::evaluate(const std::optional<QString> &origin)
{
    if (!origin || origin->isEmpty())
        return Outcome::refuse();
    std::lock_guard guard(m_lock);
    if (const auto it = m_entries.constFind(*origin); it != m_entries.cend())
        return it->decision == Decision::allowed ? Outcome::allow() : Outcome::refuse();
    const QDateTime now = m_now();
    if (m_pending && m_pending->since.msecsTo(now) / 1000.0 < m_askTimeout)
        return Outcome::refuse();
    m_pending = Pending{*origin, now};
    return Outcome::refuseAndAsk(*origin);
}

std::optional<QString> OriginConsent::pendingOrigin() const
{
    std::lock_guard guard(m_lock);
    if (!m_pending)
        return std::nullopt;
    if (m_askTimeout > m_pending->since.msecsTo(m_now()) / 1000.0)
        return m_pending->origin;
    return std::nullopt;
}

void OriginConsent::resolve(const QString &origin, Decision decision)
{
    std::lock_guard saveGuard(m_saveLock);
    QList<Entry> copy;
    {
        std::lock_guard guard(m_lock);
        m_entries.insert(origin, Entry{origin, decision, wholeSecondsUtc(m_now())});
        if (m_pending && m_pending->origin == origin)
            m_pending.reset();
        copy = sortedEntriesLocked();
    }
    save(copy);
}

void OriginConsent::revoke(const QString &origin)
{
    std::lock_guard saveGuard(m_saveLock);
    QList<Entry> copy;
    {
        std::lock_guard guard(m_lock);
        m_entries.remove(origin);
        copy = sortedEntriesLocked();
    }
    save(copy);
}

QList<OriginConsent::Entry> OriginConsent::allEntries() const
{
    std::lock_guard guard(m_lock);
    return sortedEntriesLocked();
}

QList<OriginConsent::Entry> OriginConsent::sortedEntriesLocked() const
{
    return m_entries.values();   // QMap iterates in ascending key order
}

QString OriginConsent::setAsidePath() const
{
    std::lock_guard guard(m_saveLock);
    return m_setAsidePath;
}

QString OriginConsent::saveError() const
{
    std::lock_guard guard(m_saveLock);
    return m_saveError;
}

QByteArray OriginConsent::encode(QList<Entry> entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.origin < b.origin; });
    if (entries.isEmpty())
        return QByteArrayLiteral("[]");
    QByteArray out = "[\n";
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        out += "  {\n    \"decidedAt\" : ";
        appendJsonString(out, isoText(e.decidedAt));
        out += ",\n    \"decision\" : ";
        appendJsonString(out, rawValue(e.decision));
        out += ",\n    \"origin\" : ";
        appendJsonString(out, e.origin);
        out += i + 1 < entries.size() ? "\n  },\n" : "\n  }\n";
    }
    out += ']';
    return out;
}

std::optional<QList<OriginConsent::Entry>> OriginConsent::decode(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<Entry> entries;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isObject())
            return std::nullopt;
        const QJsonObject o = v.toObject();
        const QJsonValue origin = o.value(QLatin1String("origin"));
        const QJsonValue decision = o.value(QLatin1String("decision"));
        const QJsonValue decidedAt = o.value(QLatin1String("decidedAt"));
        if (!origin.isString() || !decision.isString() || !decidedAt.isString())
            return std::nullopt;
        const auto d = decisionFromRawValue(decision.toString());
        const auto t = parseIsoDateTime(decidedAt.toString());
        if (!d || !t)
            return std::nullopt;
        entries.append(Entry{origin.toString(), *d, *t});
    }
    return entries;
}

void OriginConsent::load()
{
    QFile file(m_storePath);
    const QFileInfo info(m_storePath);
    if (!info.exists() && !info.isSymLink())
        return;   // first run: nothing decided yet

    QString problem;
    std::optional<QList<Entry>> entries;
    if (info.size() > maxFileBytes) {
        problem = QStringLiteral("größer als %1 Bytes").arg(maxFileBytes);
    } else if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        entries = decode(file.read(maxFileBytes + 1));
        file.close();
        if (!entries)
            problem = QStringLiteral("kein gültiges Einwilligungs-JSON");
    }

    if (entries) {
        for (const Entry &e : *entries)
            m_entries.insert(e.origin, e);   // a later duplicate wins
        return;
    }

    // Start empty (everything refused), but keep the user's decisions on disk.
    const QString stamp = m_now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = m_storePath + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    bool moved = false;
    for (int n = 2; n < 100; ++n) {
        if (!QFileInfo::exists(target) && !QFileInfo(target).isSymLink()) {
            moved = QFile::rename(m_storePath, target);
            break;
        }
        target = base + QLatin1Char('-') + QString::number(n);   // same second, try the next name
    }
    if (moved) {
        m_setAsidePath = target;
        qCWarning(lcConsent).noquote()
            << QStringLiteral("Einwilligungsdatei %1 unlesbar (%2); beiseitegelegt als %3")
                   .arg(m_storePath, problem, target);
    } else {
        m_writeBlocked = true;
        m_saveError = QStringLiteral("Einwilligungsdatei %1 unlesbar (%2) und nicht beiseitezulegen; "
                                     "Änderungen werden in diesem Lauf nicht gespeichert")
                          .arg(m_storePath, problem);
        qCWarning(lcConsent).noquote() << m_saveError;
    }
}

bool OriginConsent::reload()
{
    QFile file(m_storePath);
    std::optional<QList<Entry>> entries;
    if (!file.exists())
        entries = QList<Entry>();   // all decisions revoked, or the file removed by hand
    else if (QFileInfo(m_storePath).size() <= maxFileBytes && file.open(QIODevice::ReadOnly))
        entries = decode(file.read(maxFileBytes + 1));
    if (!entries)
        return false;

    std::lock_guard guard(m_lock);
    m_entries.clear();
    for (const Entry &e : *entries)
        m_entries.insert(e.origin, e);   // a later duplicate wins
    if (m_pending && m_entries.contains(m_pending->origin))
        m_pending.reset();
    return true;
}

void OriginConsent::save(const QList<Entry> &entries)
{
    // Caller holds m_saveLock.
    if (m_writeBlocked)
        return;   // m_saveError already says why
    const QByteArray bytes = encode(entries);
    QDir().mkpath(QFileInfo(m_storePath).absolutePath());   // failure shows up below
    QSaveFile file(m_storePath);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        m_saveError.clear();
        return;
    }
    m_saveError = QStringLiteral("Einwilligungen nicht gespeichert (%1): %2")
                      .arg(m_storePath, file.errorString());
    qCWarning(lcConsent).noquote() << m_saveError;
}
