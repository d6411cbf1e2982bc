// The tty path of the serial layer on a pseudo terminal that the test creates itself: exclusive
// opening, line settings, data events, and a monitor thread that must stop at once although the
// pseudo terminal has no modem lines to wait for.

#include "Comms.h"
#include "SerialLinux.h"
#include "ThreadProbe.h"
#include "Wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

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

namespace {

struct PtyPort {
    Pty pty;
    QTemporaryDir folder;
    std::unique_ptr<platform::LinuxSerialDevices> devices;
    std::unique_ptr<probe::ProbedSerialDevices> probed; // the monitor thread's allocations and locks counted
    std::unique_ptr<TComPort> port;
    QList<qint32> inQues;
    QStringList seen;

    bool open(TEvents events)
    {
        if (pty.slave.isEmpty() || !QFile::link(pty.slave, folder.filePath(QStringLiteral("com5"))))
            return false;
        devices = std::make_unique<platform::LinuxSerialDevices>(folder.path(), platform::DeviceTable{});
        probed = std::make_unique<probe::ProbedSerialDevices>(*devices);
        port = std::make_unique<TComPort>(nullptr, probed.get());
        port->setPort(5);
        port->Events = events;
        QObject::connect(port.get(), &TComPort::OnRxChar, [this](TComPort *, qint32 inQue) {
            inQues << inQue;
            seen << "RXCHAR";
        });
        QObject::connect(port.get(), &TComPort::OnRxFlag, [this] { seen << "RXFLAG"; });
        QObject::connect(port.get(), &TComPort::OnTxEmpty, [this] { seen << "TXEMPTY"; });
        QObject::connect(port.get(), &TComPort::OnCTS, [this] { seen << "CTS"; });
        port->Open();
        return port->Connected();
    }
    void send(const QByteArray &bytes) { ASSERT_EQ(::write(pty.master, bytes.constData(), bytes.size()), bytes.size()); }
};

} // namespace

TEST(PtyPort, ReceivedCharactersReachOnRxCharWithTheQueueLength)
{
    PtyPort p;
    if (!p.open((1u << evRxChar) | (1u << evCTS) | (1u << evDSR)))
        GTEST_SKIP() << "no pseudo terminals here";
    QThread::msleep(30);
    QCoreApplication::processEvents();
    EXPECT_TRUE(p.seen.isEmpty()); // nothing at open

    p.send("abc");
    ASSERT_TRUE(waitUntil([&] { return !p.inQues.isEmpty(); }));
    EXPECT_EQ(p.inQues.last(), 3);
    p.send("de");
    ASSERT_TRUE(waitUntil([&] { return p.inQues.size() >= 2; }));
    EXPECT_EQ(p.inQues.last(), 5); // the port reads nothing: the queue keeps growing
    EXPECT_EQ(p.port->GetInQueue(), 5);

    // Input that waits unread wakes nobody again.
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(p.seen, (QStringList{"RXCHAR", "RXCHAR"}));

    QElapsedTimer timer;
    timer.start();
    p.port->Close();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(p.port->Connected());
}

TEST(PtyPort, TheEventCharacterRaisesOnRxFlagAndStaysInTheQueue)
{
    const probe::Counts before = probe::counts();
    PtyPort p;
    if (!p.open((1u << evRxChar) | (1u << evRxFlag)))
        GTEST_SKIP() << "no pseudo terminals here";
    p.send(QByteArray("xy", 2));
    ASSERT_TRUE(waitUntil([&] { return !p.inQues.isEmpty(); }));
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_EQ(p.seen, QStringList{"RXCHAR"});

    p.send(QByteArray("a\0b", 3));
    ASSERT_TRUE(waitUntil([&] { return p.inQues.size() >= 2; }));
    // One report: OnRxChar before OnRxFlag, and the characters read to find the flag still count.
    EXPECT_EQ(p.seen, (QStringList{"RXCHAR", "RXCHAR", "RXFLAG"}));
    EXPECT_EQ(p.inQues.last(), 5);
    EXPECT_EQ(p.port->GetInQueue(), 5);

    QElapsedTimer timer;
    timer.start();
    p.port->Close();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_EQ(probe::counts(), before); // reading and counting the input took no lock, no memory
}

TEST(PtyPort, EveryDataEventSetStillClosesAtOnce)
{
    for (TEvents events : {TEvents(1u << evTxEmpty), TEvents(1u << evBreak) | (1u << evError), AllEvents}) {
        PtyPort p;
        if (!p.open(events))
            GTEST_SKIP() << "no pseudo terminals here";
        QThread::msleep(30);
        QElapsedTimer timer;
        timer.start();
        p.port->Close();
        EXPECT_LT(timer.elapsed(), 500) << events;
        EXPECT_FALSE(p.port->Connected());
    }
}

TEST(PtyPort, AHangUpLosesThePortWithoutHoldingTheDesk)
{
    // The pseudo terminal's other end closed: as an adapter pulled out, whatever events are watched.
    for (const TEvents events : {TEvents{(1u << evCTS) | (1u << evDSR) | (1u << evRLSD)},
                                 TEvents{(1u << evRxChar) | (1u << evCTS)}}) {
        auto pty = std::make_unique<Pty>();
        if (pty->slave.isEmpty())
            GTEST_SKIP() << "no pseudo terminals here";
        QTemporaryDir folder;
        ASSERT_TRUE(QFile::link(pty->slave, folder.filePath(QStringLiteral("com7"))));
        platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
        TComPort port(nullptr, &devices);
        port.setPort(7);
        port.Events = events;
        port.Open();
        ASSERT_TRUE(port.Connected());
        pty.reset();
        ASSERT_TRUE(waitUntil([&] { return port.Lost(); }, 5000)) << events;
        EXPECT_NE(port.LostError(), 0);
        port.Close();
    }
}
