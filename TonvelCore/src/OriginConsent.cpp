// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/OriginConsent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <utility>

Q_LOGGING_CATEGORY(lcConsent, VELMORA_APP_ID ".OriginConsent")

namespace {

// A consent file is a few kilobytes; anything far larger is not ours to parse.
constexpr qint64 maxFileBytes = 16 * 1024 * 1024;
// Another process holds the file lock only for one read-modify-write.
constexpr int lockWaitMs = 5000;

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
    : storePath_(std::move(storePath)), askTimeout_(askTimeoutSeconds),
      now_(now ? now : Clock(&OriginConsent::systemNow)),
      elapsedMs_(now ? std::function<qint64()>([now] { return now().toMSecsSinceEpoch(); })
                     : std::function<qint64()>([] {
                           using namespace std::chrono;
                           return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
                       }))
{
    load();
}

bool OriginConsent::isWellFormedOrigin(QStringView origin)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^[a-z][a-z0-9+.\-]*://([a-z0-9.\-]+|\[[0-9a-f:.]+\])(:[0-9]{1,5})?$)"),
        QRegularExpression::CaseInsensitiveOption);
    return origin == u"null" || (origin.size() <= 1024 && form.match(origin.toString()).hasMatch());
}

OriginConsent::Outcome OriginConsent::evaluate(const std::optional<QString> &origin)
{
    if (!origin || !isWellFormedOrigin(*origin))
        return Outcome::refuse();
    std::lock_guard guard(lock_);
    if (const auto it = entries_.constFind(*origin); it != entries_.cend())
        return it->decision == Decision::allowed ? Outcome::allow() : Outcome::refuse();
    const qint64 now = elapsedMs_();
    if (pending_ && (now - pending_->sinceMs) / 1000.0 < askTimeout_)
        return Outcome::refuse();
    pending_ = Pending{*origin, now};
    return Outcome::refuseAndAsk(*origin);
}

std::optional<QString> OriginConsent::pendingOrigin() const
{
    std::lock_guard guard(lock_);
    if (!pending_)
        return std::nullopt;
    if (askTimeout_ > (elapsedMs_() - pending_->sinceMs) / 1000.0)
        return pending_->origin;
    return std::nullopt;
}

void OriginConsent::resolve(const QString &origin, Decision decision)
{
    modify([&](QMap<QString, Entry> &entries) {
        entries.insert(origin, Entry{origin, decision, wholeSecondsUtc(now_())});
        if (pending_ && pending_->origin == origin)
            pending_.reset();
    });
}

void OriginConsent::revoke(const QString &origin)
{
    modify([&](QMap<QString, Entry> &entries) { entries.remove(origin); });
}

void OriginConsent::modify(const std::function<void(QMap<QString, Entry> &)> &change)
{
    std::lock_guard saveGuard(saveLock_);
    QDir().mkpath(QFileInfo(storePath_).absolutePath());
    QLockFile fileLock(storePath_ + QStringLiteral(".lock"));
    // A lock that cannot even be created (no folder, no rights) leaves the save to report why.
    const bool locked = writeBlocked_ || fileLock.tryLock(lockWaitMs) || fileLock.error() != QLockFile::LockFailedError;
    // Skipped while our own last change has not reached the disk: the file would not hold it.
    if (locked && !writeBlocked_ && saveError_.isEmpty())
        reloadLocked();
    QList<Entry> copy;
    {
        std::lock_guard guard(lock_);
        change(entries_);
        copy = sortedEntriesLocked();
    }
    if (locked) {
        save(copy);
        return;
    }
    // Writing now could undo the other process's change; keep ours in memory and say so.
    saveError_ = QStringLiteral("Einwilligungen nicht gespeichert (%1): Sperrdatei belegt").arg(storePath_);
    qCWarning(lcConsent).noquote() << saveError_;
}

QList<OriginConsent::Entry> OriginConsent::allEntries() const
{
    std::lock_guard guard(lock_);
    return sortedEntriesLocked();
}

QList<OriginConsent::Entry> OriginConsent::sortedEntriesLocked() const
{
    return entries_.values();   // QMap iterates in ascending key order
}

QString OriginConsent::setAsidePath() const
{
    std::lock_guard guard(saveLock_);
    return setAsidePath_;
}

QString OriginConsent::saveError() const
{
    std::lock_guard guard(saveLock_);
    return saveError_;
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
    QFile file(storePath_);
    const QFileInfo info(storePath_);
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
            entries_.insert(e.origin, e);   // a later duplicate wins
        return;
    }

    // Start empty (everything refused), but keep the user's decisions on disk.
    const QString stamp = now_().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = storePath_ + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    bool moved = false;
    for (int n = 2; n < 100; ++n) {
        if (!QFileInfo::exists(target) && !QFileInfo(target).isSymLink()) {
            moved = QFile::rename(storePath_, target);
            break;
        }
        target = base + QLatin1Char('-') + QString::number(n);   // same second, try the next name
    }
    if (moved) {
        setAsidePath_ = target;
        qCWarning(lcConsent).noquote()
            << QStringLiteral("Einwilligungsdatei %1 unlesbar (%2); beiseitegelegt als %3")
                   .arg(storePath_, problem, target);
    } else {
        writeBlocked_ = true;
        saveError_ = QStringLiteral("Einwilligungsdatei %1 unlesbar (%2) und nicht beiseitezulegen; "
                                     "Änderungen werden in diesem Lauf nicht gespeichert")
                          .arg(storePath_, problem);
        qCWarning(lcConsent).noquote() << saveError_;
    }
}

bool OriginConsent::reload()
{
    std::lock_guard saveGuard(saveLock_);
    // No file lock: writers replace the file atomically, so a read sees one whole version.
    if (writeBlocked_ || !saveError_.isEmpty())
        return false;
    return reloadLocked();
}

// Caller holds saveLock_.
bool OriginConsent::reloadLocked()
{
    QFile file(storePath_);
    std::optional<QList<Entry>> entries;
    if (!file.exists())
        entries = QList<Entry>();   // all decisions revoked, or the file removed by hand
    else if (QFileInfo(storePath_).size() <= maxFileBytes && file.open(QIODevice::ReadOnly))
        entries = decode(file.read(maxFileBytes + 1));
    if (!entries)
        return false;

    std::lock_guard guard(lock_);
    entries_.clear();
    for (const Entry &e : *entries)
        entries_.insert(e.origin, e);   // a later duplicate wins
    if (pending_ && entries_.contains(pending_->origin))
        pending_.reset();
    return true;
}

void OriginConsent::save(const QList<Entry> &entries)
{
    // Caller holds saveLock_.
    if (writeBlocked_)
        return;   // saveError_ already says why
    const QByteArray bytes = encode(entries);
    QDir().mkpath(QFileInfo(storePath_).absolutePath());   // failure shows up below
    QSaveFile file(storePath_);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        saveError_.clear();
        return;
    }
    saveError_ = QStringLiteral("Einwilligungen nicht gespeichert (%1): %2")
                      .arg(storePath_, file.errorString());
    qCWarning(lcConsent).noquote() << saveError_;
}
