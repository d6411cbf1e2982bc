#include "DeviceMonitorLinux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

namespace {

class NoDeviceMonitor final : public DeviceMonitor {
public:
    void setHandler(std::function<void(const DeviceChange &)>) override {}
    QString identity(const QString &node) override { return node; }
};

// The target a symbolic link names, absolute; empty when path is no link.
QString linkTarget(const QString &path)
{
    char buf[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buf, sizeof buf - 1);
    if (n <= 0)
        return QString();
    const QString target = QFile::decodeName(QByteArray(buf, static_cast<int>(n)));
    return QDir::cleanPath(QDir::isAbsolutePath(target) ? target : QFileInfo(path).absoluteDir().filePath(target));
}

QStringList devlinksOf(udev_device *device)
{
    QStringList links;
    for (udev_list_entry *e = udev_device_get_devlinks_list_entry(device); e; e = udev_list_entry_get_next(e))
        links << QFile::decodeName(udev_list_entry_get_name(e));
    return links;
}

} // namespace

DeviceMonitor &DeviceMonitor::none()
{
    static NoDeviceMonitor monitor;
    return monitor;
}

QString deviceIdentity(const QString &node, const QString &linkTarget, const QString &devnode,
                       const QStringList &devlinks)
{
    if (!linkTarget.isEmpty() && devlinks.contains(linkTarget))
        return linkTarget;
    for (const QString &link : devlinks)
        if (link.contains(QLatin1String("/serial/by-id/"))) // /dev/serial/by-id/…
            return link;
    return devnode.isEmpty() ? node : devnode;
}

UdevDeviceMonitor::UdevDeviceMonitor(QString devicesFolder, bool withUdev) : folder_(std::move(devicesFolder))
{
    if (!withUdev)
        return;
    udev_ = udev_new();
    if (!udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0
                     || udev_monitor_enable_receiving(monitor_) < 0)) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
    if (!monitor_) {
        std::fprintf(stderr, "zielkron: Die Geräteereignisse von udev kommen nicht an: Ein wieder eingesteckter "
                             "serieller Adapter wird nicht von selbst übernommen.\n");
        return;
    }
    notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UdevDeviceMonitor::readUdev);
}

UdevDeviceMonitor::~UdevDeviceMonitor()
{
    delete notifier_;
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
}

void UdevDeviceMonitor::setHandler(std::function<void(const DeviceChange &)> handler)
{
    handler_ = std::move(handler);
    watchFolder();
}

void UdevDeviceMonitor::tell(const DeviceChange &change)
{
    if (handler_)
        handler_(change);
}

QString UdevDeviceMonitor::identity(const QString &node)
{
    watchFolder(); // a port opens: a folder made since is watched from now on
    struct stat st{};
    if (node.isEmpty() || ::stat(QFile::encodeName(node).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return node; // a virtual line, or nothing there
    QString devnode;
    QStringList links;
    if (udev_) {
        if (udev_device *device = udev_device_new_from_devnum(udev_, 'c', st.st_rdev)) {
            if (const char *n = udev_device_get_devnode(device))
                devnode = QFile::decodeName(n);
            links = devlinksOf(device);
            udev_device_unref(device);
        }
    }
    return deviceIdentity(node, linkTarget(node), devnode, links);
}

void UdevDeviceMonitor::readUdev()
{
    while (udev_device *device = udev_monitor_receive_device(monitor_)) {
        const char *action = udev_device_get_action(device);
        const char *node = udev_device_get_devnode(device);
        if (action && node) {
            DeviceChange change;
            change.kind = qstrcmp(action, "add") == 0 ? DeviceChange::Added : DeviceChange::Removed;
            change.node = QFile::decodeName(node);
            change.names << change.node << devlinksOf(device);
            if (qstrcmp(action, "add") == 0 || qstrcmp(action, "remove") == 0)
                tell(change);
        }
        udev_device_unref(device);
    }
}

QHash<QString, UdevDeviceMonitor::Entry> UdevDeviceMonitor::listFolder() const
{
    QHash<QString, Entry> entries;
    const QDir dir(folder_);
    for (const QString &name : dir.entryList({QStringLiteral("com*")}, QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(name);
        struct stat st{};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            entries.insert(path, {st.st_dev, st.st_ino, std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec});
    }
    return entries;
}

void UdevDeviceMonitor::watchFolder()
{
    if (watcher_ || folder_.isEmpty() || !QFileInfo(folder_).isDir())
        return;
    watcher_ = new QFileSystemWatcher(this);
    if (!watcher_->addPath(folder_)) {
        delete watcher_;
        watcher_ = nullptr;
        return;
    }
    entries_ = listFolder();
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &UdevDeviceMonitor::folderChanged);
}

void UdevDeviceMonitor::folderChanged()
{
    // An entry made anew (a simulator's line unplugged and put back before this look) is one that
    // went and one that came.
    const QHash<QString, Entry> now = listFolder();
    for (auto old = entries_.cbegin(); old != entries_.cend(); ++old)
        if (now.value(old.key()) != old.value())
            tell({DeviceChange::Removed, old.key(), {old.key()}});
    const QHash<QString, Entry> before = std::exchange(entries_, now);
    for (auto entry = now.cbegin(); entry != now.cend(); ++entry)
        if (before.value(entry.key()) != entry.value())
            tell({DeviceChange::Added, entry.key(), {entry.key()}});
}

} // namespace platform
