// The tty path of the serial layer on a pseudo terminal that the test creates itself: exclusive
// opening, line settings, and a monitor thread that must stop at once although the pseudo
// terminal has no modem lines to wait for.

#include "Comms.h"
#include "SerialLinux.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

struct Pty {
    int master = -1;
    QString slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
};

} // namespace

TEST(PtyPort, OpensExclusivelyWithTheLineSettingsAndStopsAtOnce)
{
    Pty pty;
    if (pty.slave.isEmpty())
        GTEST_SKIP() << "no pseudo terminals here";
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::link(pty.slave, folder.filePath(QStringLiteral("com7"))));
    platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
    EXPECT_TRUE(devices.probe(7));

    TComPort port(nullptr, &devices);
    port.setPort(7);
    port.BaudRate = br19200;
    port.Events = (1u << evCTS) | (1u << evDSR) | (1u << evRLSD);
    port.Open();
    EXPECT_TRUE(port.Connected());

    termios t{};
    ASSERT_EQ(tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    // (A pseudo terminal keeps no framing of its own: it reports 8 data bits, no parity.)
    EXPECT_FALSE(t.c_lflag & ICANON);

    TComPort second(nullptr, &devices);
    second.setPort(7);
    EXPECT_THROW(second.Open(), EComHandle);
    EXPECT_FALSE(devices.probe(7)); // busy while open

    QThread::msleep(50); // the monitor thread is waiting by now
    QElapsedTimer timer;
    timer.start();
    port.Close();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(devices.probe(7)); // free again
}

TEST(PtyPort, ARegularFileIsNoSerialPort)
{
    QTemporaryDir folder;
    QFile plain(folder.filePath(QStringLiteral("com2")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
    EXPECT_FALSE(devices.probe(2));
    TComPort port(nullptr, &devices);
    port.setPort(2);
    try {
        port.Open();
        FAIL();
    } catch (const EComHandle &e) {
        EXPECT_STREQ(e.what(), "Unable to open com port: Inappropriate ioctl for device");
    }
}
