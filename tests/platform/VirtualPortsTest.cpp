// Virtual ports only: the desk started for training or by a script sees the virtual lines of its
// devices folder and never a real serial device.

#include "RealPlatform.h"
#include "VirtualLines.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

TEST(VirtualPorts, OnlyVirtualLinesOfTheDevicesFolderAreOffered)
{
    QTemporaryDir folder;
    VirtualLineServer com2(folder.filePath(QStringLiteral("com2")).toStdString());
    ASSERT_TRUE(com2.start());
    // A link to a character device (here /dev/null, standing for a tty) is never opened.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), folder.filePath(QStringLiteral("com3"))));

    VirtualOnlySerialDevices devices(folder.path());
    EXPECT_TRUE(devices.probe(2));
    EXPECT_FALSE(devices.probe(1)); // no entry: the default device of COM1 does not exist here
    EXPECT_FALSE(devices.probe(3));
    EXPECT_TRUE(devices.deviceName(1).isEmpty());
    EXPECT_TRUE(devices.deviceName(3).isEmpty());
    EXPECT_THROW(devices.open(3, SerialSettings{}), SerialError);
    EXPECT_THROW(devices.open(1, SerialSettings{}), SerialError);
    EXPECT_NE(devices.open(2, SerialSettings{}), nullptr);
}
