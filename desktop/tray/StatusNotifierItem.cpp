// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QtEndian>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");

// One picture in the protocol's form: width, height, ARGB32 pixels in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;
struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

} // namespace

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

QDBusArgument &operator<<(QDBusArgument &out, const SniPixmap &p)
{
    out.beginStructure();
    out << p.width << p.height << p.argb;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, SniPixmap &p)
{
    in.beginStructure();
    in >> p.width >> p.height >> p.argb;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const SniToolTip &t)
{
    out.beginStructure();
    out << t.iconName << t.pixmaps << t.title << t.text;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, SniToolTip &t)
{
    in.beginStructure();
    in >> t.iconName >> t.pixmaps >> t.title >> t.text;
    in.endStructure();
    return in;
}

namespace {

SniPixmap toSniPixmap(const QImage &image, int size)
{
    const QImage scaled = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);
    SniPixmap p{scaled.width(), scaled.height(), {}};
    p.argb.resize(qsizetype(scaled.width()) * scaled.height() * 4);
    auto *out = reinterpret_cast<quint32 *>(p.argb.data());
    for (int y = 0; y < scaled.height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(scaled.constScanLine(y));
        for (int x = 0; x < scaled.width(); ++x)
            *out++ = qToBigEndian(line[x]);
    }
    return p;
}

} // namespace

// The D-Bus face of StatusNotifierItem: properties and methods of org.kde.StatusNotifierItem.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ emptyName)
    Q_PROPERTY(SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem *item) : QDBusAbstractAdaptor(item), item_(item)
    {
        connect(item, &StatusNotifierItem::newIcon, this, &StatusNotifierItemAdaptor::NewIcon);
        connect(item, &StatusNotifierItem::newToolTip, this, &StatusNotifierItemAdaptor::NewToolTip);
        connect(item, &StatusNotifierItem::newTitle, this, &StatusNotifierItemAdaptor::NewTitle);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral(VELMORA_APP_ID); }
    QString title() const { return item_->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyName() const { return {}; }
    bool itemIsMenu() const { return false; }
    SniPixmaps iconPixmap() const
    {
        SniPixmaps list;
        if (!item_->icon().isNull())
            for (int size : {16, 22, 24, 32, 48, 64})
                list.append(toSniPixmap(item_->icon(), size));
        return list;
    }
    SniToolTip toolTip() const { return {QString(), {}, item_->title(), item_->toolTipText()}; }

public slots:
    void Activate(int x, int y) { emit item_->activated(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { emit item_->secondaryActivated(QPoint(x, y)); }
    void ContextMenu(int x, int y) { emit item_->contextMenuRequested(QPoint(x, y)); }
    void Scroll(int delta, const QString &orientation) { item_->onScroll(delta, orientation); }

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString &status);

private:
    StatusNotifierItem *item_;
};

StatusNotifierItem::StatusNotifierItem(QObject *parent) : QObject(parent)
{
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    new StatusNotifierItemAdaptor(this);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    bus.registerService(service_);
    bus.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
    watcher_ = new QDBusServiceWatcher(watcherService, bus,
                                       QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
                                       this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierItem::registerWithWatcher);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setRegistered(false); });
    // A host that starts after its watcher (the watcher says so by this signal).
    bus.connect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(registerWithWatcher()));
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!service_.isEmpty() && bus.isConnected()) {
        bus.unregisterObject(itemPath);
        bus.unregisterService(service_);
    }
}

bool StatusNotifierItem::watcherPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(watcherService);
}

void StatusNotifierItem::registerWithWatcher()
{
    if (service_.isEmpty() || !watcherPresent())
        return;
    auto call = QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                               QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    // Waits for the answer (a watcher replies at once): at start the program decides by it
    // whether to open a window.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcUi, "Tray-Symbol nicht angemeldet: %s", qUtf8Printable(reply.errorMessage()));
        return setRegistered(false);
    }
    // Registered with the watcher; shown only once a host reads the watcher.
    auto get = QDBusMessage::createMethodCall(watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                              QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage answer = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    const QVariant value = answer.arguments().value(0).value<QDBusVariant>().variant();
    setRegistered(answer.type() == QDBusMessage::ReplyMessage && value.toBool());
}

void StatusNotifierItem::setRegistered(bool on)
{
    if (registered_ == on)
        return;
    registered_ = on;
    qCInfo(lcUi, "StatusNotifierItem %s", on ? "beim Tray angemeldet" : "ohne Tray");
    emit registeredChanged(on);
}

void StatusNotifierItem::setIcon(const QImage &image)
{
    icon_ = image;
    emit newIcon();
}

void StatusNotifierItem::setToolTip(const QString &title, const QString &text)
{
    const bool titleChanged = title != title_;
    if (!titleChanged && text == toolTipText_)
        return;
    title_ = title;
    toolTipText_ = text;
    if (titleChanged)
        emit newTitle();
    emit newToolTip();
}

void StatusNotifierItem::onScroll(int delta, const QString &orientation)
{
    if (orientation.compare(QLatin1String("vertical"), Qt::CaseInsensitive) != 0 || delta == 0)
        return;
    // Hosts send either 120 per notch (Qt's angle units) or one per notch.
    if (std::abs(delta) < 120) {
        emit scrolled(delta > 0 ? 1 : -1);
        return;
    }
    scrollRest_ += delta;
    const int steps = scrollRest_ / 120;
    scrollRest_ -= steps * 120;
    if (steps != 0)
        emit scrolled(steps);
}

#include "StatusNotifierItem.moc"
