// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ConsentModel: the consent store as the panel shows it: the origin waiting for an answer and
// the stored decisions. Follows the store's file, so decisions taken by another process
// (velmora-cli consent) appear here and close a question they answer.
//
// Thread safety: the owner's thread only.
//
#include <TonvelCore/OriginConsent.h>

#include <QObject>
#include <QVariantList>

#include <memory>

class QFileSystemWatcher;

class ConsentModel : public QObject {
    Q_OBJECT
public:
    explicit ConsentModel(std::shared_ptr<OriginConsent> store, QObject *parent = nullptr);

    QString pendingOrigin() const { return pending_; }
    QList<OriginConsent::Entry> entries() const { return entries_; }
    // Each entry as {origin, decision: "allowed"|"denied", decidedAt}, sorted by origin.
    QVariantList entryMaps() const;

    // An origin nobody decided on asks: once per origin, a newer one replaces the older.
    void ask(const QString &origin);
    void resolve(const QString &origin, bool allow);
    void revoke(const QString &origin);

signals:
    void pendingOriginChanged();
    void entriesChanged();
    void asked(const QString &origin);

private:
    void refresh();
    void watchFile();

    std::shared_ptr<OriginConsent> store_;
    QFileSystemWatcher *watcher_ = nullptr;
    QString pending_;
    QList<OriginConsent::Entry> entries_;
};
