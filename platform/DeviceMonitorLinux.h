#pragma once
// Serial devices coming and going on Linux: udev's monitor for ttys (an adapter plugged in or pulled
// out) and the devices folder for virtual lines and comN links, both read on the thread that owns
// the monitor, woken by their descriptors (a socket notifier, inotify): nothing polls.

#include "Platform.h"

#include <QHash>
#include <QObject>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace platform {

// What stays the same of a device opened as node across a replug, from what is known of it:
// linkTarget, what node points at when it is a symbolic link (empty otherwise); devnode and
// devlinks, the device's own node and links as udev names them (empty: udev does not know it). A
// link the operator named the port by is kept when it is one of the device's own names (a by-path
// name stays with the socket of the hub); otherwise its /dev/serial/by-id name; otherwise its node.
QString deviceIdentity(const QString &node, const QString &linkTarget, const QString &devnode,
                       const QStringList &devlinks);

class UdevDeviceMonitor final : public QObject, public DeviceMonitor {
public:
    // devicesFolder: watched for virtual lines (sockets) and comN links that appear and go, from
    // when it exists. withUdev false: the system's ttys are not watched at all (virtual ports only).
    explicit UdevDeviceMonitor(QString devicesFolder, bool withUdev = true);
    ~UdevDeviceMonitor() override;

    void setHandler(std::function<void(const DeviceChange &)> handler) override;
    QString identity(const QString &node) override;

    // Whether udev's events reach the monitor (false without udev, or when the system refuses its
    // socket): then only the devices folder is watched.
    bool watchingUdev() const { return monitor_ != nullptr; }

private:
    void readUdev();
    void watchFolder();
    void folderChanged();
    void tell(const DeviceChange &change);
    // What tells an entry made anew from the one before: its inode and its change time to the
    // nanosecond (a file system may give a new entry the number of the one just removed).
    struct Entry {
        dev_t dev = 0;
        ino_t ino = 0;
        std::int64_t changed = 0;
        bool operator==(const Entry &) const = default;
    };
    // The entries comN of the devices folder.
    QHash<QString, Entry> listFolder() const;

    QString folder_;
    udev *udev_ = nullptr;
    udev_monitor *monitor_ = nullptr;
    QSocketNotifier *notifier_ = nullptr;
    QFileSystemWatcher *watcher_ = nullptr;
    QHash<QString, Entry> entries_;
    std::function<void(const DeviceChange &)> handler_;
};

} // namespace platform
