// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/ConsentModel.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QVariantMap>

#include <algorithm>

ConsentModel::ConsentModel(std::shared_ptr<OriginConsent> store, QObject *parent)
    : QObject(parent), store_(std::move(store)), entries_(store_->allEntries())
{
    watchFile();
}

QVariantList ConsentModel::entryMaps() const
{
    QVariantList list;
    for (const OriginConsent::Entry &e : entries_)
        list.append(QVariantMap{{QStringLiteral("origin"), e.origin},
                                {QStringLiteral("decision"), OriginConsent::rawValue(e.decision)},
                                {QStringLiteral("decidedAt"), e.decidedAt}});
    return list;
}

void ConsentModel::ask(const QString &origin)
{
    if (origin.isEmpty() || origin == pending_)
        return;
    pending_ = origin;
    emit pendingOriginChanged();
    emit asked(origin);
}

void ConsentModel::resolve(const QString &origin, bool allow)
{
    store_->resolve(origin, allow ? OriginConsent::Decision::allowed : OriginConsent::Decision::denied);
    refresh();
}

void ConsentModel::revoke(const QString &origin)
{
    store_->revoke(origin);
    refresh();
}

void ConsentModel::refresh()
{
    if (const auto now = store_->allEntries(); now != entries_) {
        entries_ = now;
        emit entriesChanged();
    }
    // A question answered here or by another process is no longer open.
    if (!pending_.isEmpty() && std::any_of(entries_.begin(), entries_.end(), [&](const auto &e) {
            return e.origin == pending_;
        })) {
        pending_.clear();
        emit pendingOriginChanged();
    }
}

void ConsentModel::watchFile()
{
    // velmora-cli consent decides from another process: take its file over when it changes.
    // The folder is watched too, since an atomic write replaces the file under the watch.
    const QString path = store_->storePath();
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    watcher_ = new QFileSystemWatcher(this);
    watcher_->addPath(folder);
    if (QFileInfo::exists(path))
        watcher_->addPath(path);
    auto reload = [this, path] {
        if (QFileInfo::exists(path) && !watcher_->files().contains(path))
            watcher_->addPath(path);
        if (store_->reload())
            refresh();
    };
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, reload);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, reload);
}
