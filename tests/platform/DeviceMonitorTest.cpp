// Devices coming and going: what stays the same of a device across a replug, and the devices
// folder watched for virtual lines and comN links (udev's own events need real hardware).

#include "DeviceMonitorLinux.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::DeviceChange;

TEST(DeviceIdentity, TheNameThatStaysAcrossAReplug)
{
    // The names as udev gives them, in a devices folder of the test's own (nothing is opened).
    QTemporaryDir folder;
    const QString dev = folder.path();
    const auto at = [&dev](const char *name) { return dev + QLatin1Char('/') + QLatin1String(name); };
    const QString byId = at("serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
    const QString byPath = at("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    const QStringList links{byPath, byId};
    const struct {
        QString node, linkTarget, devnode;
        QStringList devlinks;
        QString identity;
    } cases[] = {
        {at("ttyUSB0"), {}, at("ttyUSB0"), links, byId},               // an adapter: its serial number
        {at("com5"), byPath, at("ttyUSB1"), links, byPath},             // named by its socket of the hub
        {at("com5"), at("ttyUSB1"), at("ttyUSB1"), links, byId},        // a link to the number
        {at("ttyS7"), {}, at("ttyS7"), {}, at("ttyS7")},                // on board: its node
        {at("com1"), at("ttyS7"), at("ttyS7"), {}, at("ttyS7")},
        {at("com3"), {}, {}, {}, at("com3")},                           // unknown to udev
    };
    for (const auto &c : cases)
        EXPECT_EQ(platform::deviceIdentity(c.node, c.linkTarget, c.devnode, c.devlinks), c.identity)
            << c.node.toStdString();
}

TEST(DeviceMonitor, AVirtualLinePulledAndReturnedIsToldAsAnAdapterIs)
{
    QTemporaryDir folder;
    const QString com2 = QDir(folder.path()).filePath(QStringLiteral("com2"));
    platform::VirtualLineServer line(com2.toStdString());
    ASSERT_TRUE(line.start());
    platform::UdevDeviceMonitor monitor(folder.path(), false); // no system devices
    EXPECT_FALSE(monitor.watchingUdev());
    QStringList told;
    monitor.setHandler([&told](const DeviceChange &c) {
        told << (c.kind == DeviceChange::Added ? QStringLiteral("+") : QStringLiteral("-")) + QFileInfo(c.node).fileName();
    });
    EXPECT_EQ(monitor.identity(com2), com2);

    ASSERT_TRUE(line.unplug());
    ASSERT_TRUE(waitUntil([&] { return told.contains(QStringLiteral("-com2")); }));
    ASSERT_TRUE(line.replug());
    ASSERT_TRUE(waitUntil([&] { return told.contains(QStringLiteral("+com2")); }));
    // A comN link made by the operator comes too; other files of the folder are not devices.
    QFile::link(QStringLiteral("/dev/null"), QDir(folder.path()).filePath(QStringLiteral("com6")));
    QFile other(QDir(folder.path()).filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    ASSERT_TRUE(waitUntil([&] { return told.contains(QStringLiteral("+com6")); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(told, (QStringList{"-com2", "+com2", "+com6"}));
}

TEST(DeviceMonitor, TheSystemsDeviceManagerNamesACharacterDeviceByItsNode)
{
    // libudev itself, on a device every system has (no tty of the machine is touched): a device
    // without a serial number is known by its own node, also through a link the operator made.
    QTemporaryDir folder;
    platform::UdevDeviceMonitor monitor(folder.path());
    const QString link = QDir(folder.path()).filePath(QStringLiteral("com9"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), link));
    EXPECT_EQ(monitor.identity(QStringLiteral("/dev/null")), QStringLiteral("/dev/null"));
    EXPECT_EQ(monitor.identity(link), QStringLiteral("/dev/null"));
    EXPECT_EQ(monitor.identity(folder.filePath(QStringLiteral("com8"))), folder.filePath(QStringLiteral("com8")));
}
