// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringView>

#include <functional>
#include <mutex>
#include <optional>

// Summary: decides which web origins may read the status document, raises at most one
// consent question at a time, and remembers every answer in `einwilligungen.json`.
//
// File format: a pretty-printed JSON array (two-space indentation, " : " between key and
// value, escaped forward slashes), one object per origin sorted by origin, keys
// "decidedAt" (ISO 8601 UTC, whole seconds), "decision" ("allowed"/"denied"), "origin".
// Written whole and atomically after every change. A file that exists but cannot be read
// or parsed is moved aside (`<file>.unreadable-<UTC time>`) before anything is written;
// if that fails, nothing is written during this run so the user's decisions survive.
//
// Thread safety: every member may be called from any thread. One mutex guards the
// decisions and the open question; saves are serialised so the file follows the order
// of the changes. Across processes (the tray program and velmora-cli consent) every
// read-modify-write holds the lock file `<file>.lock`, so no process writes back a file
// that misses another one's change. No operation throws or reports an error to the caller; `saveError()`
// tells a terminal tool whether the last change reached the disk.
class OriginConsent {
public:
    enum class Decision { allowed, denied };
    static QString rawValue(Decision decision);
    static std::optional<Decision> decisionFromRawValue(QStringView raw);

    struct Entry {
        QString origin;
        Decision decision = Decision::denied;
        QDateTime decidedAt;   // UTC, whole seconds
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    // The verdict on one request.
    struct Outcome {
        enum class Kind { refuseAndAsk, allow, refuse };
        Kind kind = Kind::refuse;
        QString origin;   // the origin to ask about; empty unless refuseAndAsk

        static Outcome allow() { return {Kind::allow, {}}; }
        static Outcome refuse() { return {Kind::refuse, {}}; }
        static Outcome refuseAndAsk(QString origin) { return {Kind::refuseAndAsk, std::move(origin)}; }
        friend bool operator==(const Outcome &, const Outcome &) = default;
    };

    using Clock = std::function<QDateTime()>;
    static QDateTime systemNow();

    // `<user data folder>/Velmora/einwilligungen.json` ($XDG_DATA_HOME, else ~/.local/share;
    // the home folder when the system reports no data folder).
    static QString defaultStorePath();

    // Loads the file at `storePath` (see the class comment for unreadable files). Without a
    // clock, answers are stamped with the system time and the open question ages on a
    // monotonic clock, so setting the wall clock back cannot keep a question open for ever;
    // a given clock (tests) drives both.
    explicit OriginConsent(QString storePath, double askTimeoutSeconds = 60.0, Clock now = {});
    OriginConsent(const OriginConsent &) = delete;
    OriginConsent &operator=(const OriginConsent &) = delete;

    // Absent, empty or malformed origin (see isWellFormedOrigin): refuse without asking. Stored origin: its decision. Unknown origin: refuse
    // while a question younger than the timeout is open, otherwise ask about it.
    Outcome evaluate(const std::optional<QString> &origin);
    // The open question's origin while it is younger than the timeout.
    std::optional<QString> pendingOrigin() const;
    // Stores the answer (replacing an earlier one), closes the question if it was about
    // this origin, and saves the file. Like revoke(), first takes over what another process
    // wrote meanwhile, so the save does not undo it.
    void resolve(const QString &origin, Decision decision);
    // Forgets the origin's decision and saves the file; the open question stays.
    void revoke(const QString &origin);
    // All stored decisions in ascending order of origin.
    QList<Entry> allEntries() const;
    // Takes over the decisions another process (velmora-cli consent) wrote to the file.
    // Closes the open question when its origin is now decided. A file that cannot be read
    // now changes nothing and is left where it is; neither does any file while our own last
    // change has not reached the disk (the file is older than what we hold). Returns whether
    // the file was taken over.
    bool reload();

    // What browsers send: "null" or scheme://host[:port] with an ASCII host (IDNs arrive
    // as punycode) or a bracketed IPv6 address. Nothing else can be a real page's origin,
    // and nothing else is ever shown to the user as one.
    static bool isWellFormedOrigin(QStringView origin);

    QString storePath() const { return storePath_; }
    // Where an unreadable file was moved at construction; empty when none was.
    QString setAsidePath() const;
    // Empty when the last change was written; otherwise why it was not.
    QString saveError() const;

    // The exact bytes of the file for these entries (sorted here).
    static QByteArray encode(QList<Entry> entries);
    // The entries of a file's bytes in file order; nothing when any part is malformed.
    static std::optional<QList<Entry>> decode(const QByteArray &bytes);

private:
    // Runs `change` on the decisions between a fresh reload and the save, under the
    // cross-process lock.
    void modify(const std::function<void(QMap<QString, Entry> &)> &change);
    void save(const QList<Entry> &entries);
    bool reloadLocked();
    QList<Entry> sortedEntriesLocked() const;
    void load();

    const QString storePath_;
    const double askTimeout_;
    const Clock now_;
    const std::function<qint64()> elapsedMs_;   // ages of the open question

    mutable std::mutex lock_;   // guards entries_, pending_
    QMap<QString, Entry> entries_;
    struct Pending {
        QString origin;
        qint64 sinceMs = 0;
    };
    std::optional<Pending> pending_;

    mutable std::mutex saveLock_;   // serialises writes; guards the fields below
    bool writeBlocked_ = false;
    QString setAsidePath_;
    QString saveError_;
};
