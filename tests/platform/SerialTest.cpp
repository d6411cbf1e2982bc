// The serial device layer: termios from the port settings, device names, virtual lines.

#include "FakePlatform.h"
#include "SerialLinux.h"
#include "VirtualLines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace platform;

TEST(Termios, LineSettingsOfThePortBecomeATermios)
{
    SerialSettings s; // 9600 8N1, DTR on
    s.flowControl = 1;
    TermiosSetup t = termiosFor(s);
    EXPECT_EQ(t.speed, B9600);
    EXPECT_EQ(cfgetospeed(&t.tio), B9600);
    EXPECT_EQ(t.customBaud, 0);
    EXPECT_EQ(t.tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.tio.c_cflag & CLOCAL);
    EXPECT_TRUE(t.tio.c_cflag & CREAD);
    EXPECT_TRUE(t.tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.tio.c_cflag & PARENB);
    EXPECT_FALSE(t.tio.c_cflag & CSTOPB);
    EXPECT_FALSE(t.tio.c_iflag & (IXON | IXOFF | INPCK));
    EXPECT_FALSE(t.tio.c_lflag & (ICANON | ECHO | ISIG)); // raw
    EXPECT_FALSE(t.tio.c_oflag & OPOST);
    EXPECT_TRUE(t.dtr);
    EXPECT_TRUE(t.rts); // raised and run by the handshake
    // Linux keeps no XON limit in its termios; there is nothing to set for it.

    s.flowControl = 2;
    s.dtr = false;
    s.dataBits = 5;
    s.parity = 2;
    s.stopBits = 1; // one and a half becomes two
    t = termiosFor(s);
    EXPECT_EQ(t.tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_FALSE(t.tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.dtr);
    EXPECT_FALSE(t.rts);
    EXPECT_EQ(t.tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_EQ(t.tio.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB));
    EXPECT_TRUE(t.tio.c_cflag & CSTOPB);
    EXPECT_EQ(t.tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.tio.c_cc[VSTOP], 0x13);

    s.parity = 3; // mark
    EXPECT_EQ(termiosFor(s).tio.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    s.parity = 4; // space
    EXPECT_EQ(termiosFor(s).tio.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
}

TEST(Termios, RatesWithoutAConstantAreSetByNumber)
{
    SerialSettings s;
    for (int rate : {14400, 28800, 56000, 128000, 256000}) {
        s.baudRate = rate;
        const TermiosSetup t = termiosFor(s);
        EXPECT_EQ(t.speed, B0) << rate;
        EXPECT_EQ(t.customBaud, rate);
    }
    s.baudRate = 115200;
    EXPECT_EQ(termiosFor(s).speed, B115200);
    s.baudRate = 110;
    EXPECT_EQ(termiosFor(s).speed, B110);
}

TEST(DeviceNames, DefaultTableAndPerPortLinks)
{
    // The table is only compared here; nothing of it is opened.
    const DeviceTable t = defaultDeviceTable();
    const QString dev = QStringLiteral("/dev/");
    EXPECT_EQ(t[1], dev + QStringLiteral("ttyS0"));
    EXPECT_EQ(t[4], dev + QStringLiteral("ttyS3"));
    EXPECT_EQ(t[5], dev + QStringLiteral("ttyUSB0"));
    EXPECT_EQ(t[12], dev + QStringLiteral("ttyUSB7"));
    EXPECT_EQ(t[13], dev + QStringLiteral("ttyACM0"));
    EXPECT_EQ(t[16], dev + QStringLiteral("ttyACM3"));

    QTemporaryDir folder;
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/ttyFOO"), folder.filePath(QStringLiteral("com3"))));
    LinuxSerialDevices devices(folder.path(), t);
    EXPECT_EQ(devices.deviceName(3), folder.filePath(QStringLiteral("com3"))); // a dangling link still counts
    EXPECT_EQ(devices.deviceName(6), dev + QStringLiteral("ttyUSB1"));
    EXPECT_EQ(devices.deviceName(0), QString());
    EXPECT_EQ(devices.deviceName(17), QString());
    EXPECT_FALSE(devices.probe(3));
    try {
        devices.open(3, SerialSettings{});
        FAIL() << "opened a missing device";
    } catch (const SerialError &e) {
        EXPECT_EQ(e.kind, SerialError::Open);
        EXPECT_STREQ(e.what(), "No such file or directory");
    }

    qputenv("ZIELKRON_DEVICES", "/srv/desk/devices");
    EXPECT_EQ(defaultDevicesFolder(), QStringLiteral("/srv/desk/devices"));
    qunsetenv("ZIELKRON_DEVICES");
}

TEST(VirtualLines, MessagesAndCommands)
{
    EXPECT_EQ(formatLevels(LineCts | LineDcd), "CTS=1 DSR=0 DCD=1 RI=0");
    EXPECT_EQ(parseLevels("CTS=1 DSR=0 DCD=1 RI=0", 0), LineCts | LineDcd);
    EXPECT_EQ(parseLevels("DSR=1", LineCts), LineCts | LineDsr);
    EXPECT_EQ(parseLevels("CTS=2", 0), std::nullopt);
    EXPECT_EQ(parseLevels("FOO=1", 0), std::nullopt);
    EXPECT_EQ(parseLevels("", 0), std::nullopt);

    std::string why;
    auto c = parseLineCommand("dsr pulse 50", &why);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->lines, LineDsr);
    EXPECT_EQ(c->action, LineCommand::Pulse);
    EXPECT_EQ(c->pulseMs, 50);
    c = parseLineCommand("CTS+rlsd on", &why);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->lines, LineCts | LineDcd);
    EXPECT_FALSE(parseLineCommand("dtr on", &why));
    EXPECT_NE(why.find("unknown line"), std::string::npos);
    EXPECT_FALSE(parseLineCommand("cts blink", &why));
    EXPECT_FALSE(parseLineCommand("cts on 50", &why));
    EXPECT_FALSE(parseLineCommand("cts pulse -1", &why));
}

TEST(VirtualLines, OneDeskAtATimeAndChangesInOneReport)
{
    fake::SerialDevices serial;
    VirtualLineServer server(serial.socketFor(2));
    ASSERT_TRUE(server.start());
    server.set(LineDsr, true);
    EXPECT_TRUE(serial.devices.probe(2));
    EXPECT_FALSE(serial.devices.probe(1));

    std::unique_ptr<SerialDevice> device = serial.devices.open(2, SerialSettings{});
    ASSERT_TRUE(server.waitForDesk(2000));
    EXPECT_EQ(device->modemStatus(), MsDsr);
    EXPECT_FALSE(serial.devices.probe(2)); // busy now
    try {
        serial.devices.open(2, SerialSettings{});
        FAIL() << "a second desk attached";
    } catch (const SerialError &e) {
        EXPECT_STREQ(e.what(), "Device or resource busy");
    }

    // CTS and DSR in one message: one wait reports both.
    server.set(LineCts | LineDcd, true);
    unsigned received = 0;
    LineEdges edges;
    ASSERT_EQ(device->waitEvents(EvCts | EvDsr | EvRlsd, received, edges), SerialDevice::Wait::Events);
    EXPECT_EQ(received, EvCts | EvRlsd);
    EXPECT_EQ(device->modemStatus(), MsCts | MsDsr | MsRlsd);

    // A pulse that came and went before the wait is still reported.
    server.pulse(LineCts, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(device->waitEvents(EvCts, received, edges), SerialDevice::Wait::Events);
    EXPECT_EQ(received, static_cast<unsigned>(EvCts));

    // Unwatched lines wake nobody; the stop ends the wait.
    server.set(LineRi, true);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device->stop();
    });
    EXPECT_EQ(device->waitEvents(EvDsr, received, edges), SerialDevice::Wait::Stopped);
    stopper.join();
    EXPECT_EQ(device->modemStatus(), MsDsr | MsRlsd | MsRing); // the pulse left CTS off

    device.reset();
    ASSERT_TRUE([&] {
        for (int i = 0; i < 200 && server.deskAttached(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return !server.deskAttached();
    }());
    EXPECT_TRUE(serial.devices.probe(2)); // free again
}

namespace {

// "C+ D- R+ I-": line (CTS, DSR, RLSD, RI) and direction of each edge.
std::string edgeText(const LineEdges &edges)
{
    std::string s;
    for (const LineEdge &e : edges) {
        if (!s.empty())
            s += ' ';
        s += e.line == EvCts ? 'C' : e.line == EvDsr ? 'D' : e.line == EvRlsd ? 'R' : e.line == EvRing ? 'I' : '?';
        s += e.active ? '+' : '-';
    }
    return s;
}

std::string edgesOf(bool previous, std::uint32_t transitions, bool current)
{
    LineEdges edges;
    appendLineEdges(edges, EvDsr, previous, transitions, current, 77);
    for (const LineEdge &e : edges)
        EXPECT_EQ(e.nanos, 77);
    return edgeText(edges);
}

} // namespace

TEST(LineEdges, PreviousLevelCountAndLevelNowGiveTheTransitions)
{
    // Counted and seen alike.
    EXPECT_EQ(edgesOf(false, 0, false), "");
    EXPECT_EQ(edgesOf(false, 1, true), "D+");
    EXPECT_EQ(edgesOf(true, 1, false), "D-");
    EXPECT_EQ(edgesOf(false, 2, false), "D+ D-"); // a pulse already over: both transitions
    EXPECT_EQ(edgesOf(true, 2, true), "D- D+");
    EXPECT_EQ(edgesOf(false, 3, true), "D+ D- D+");
    // Not counted by the driver: the levels alone.
    EXPECT_EQ(edgesOf(true, 0, false), "D-");
    // A transition the driver merged away: the edges still end at the level read now.
    EXPECT_EQ(edgesOf(false, 1, false), "D+ D-");
    EXPECT_EQ(edgesOf(true, 2, false), "D- D+ D-");
    // A chattering line: bounded, first direction and last level kept.
    LineEdges edges;
    appendLineEdges(edges, EvCts, false, 1001, true, 0);
    ASSERT_EQ(edges.size(), 15u);
    EXPECT_TRUE(edges.front().active);
    EXPECT_TRUE(edges.back().active);
    edges.clear();
    appendLineEdges(edges, EvCts, false, 1000, false, 0);
    ASSERT_EQ(edges.size(), 16u);
    EXPECT_FALSE(edges.back().active);

    EXPECT_TRUE(transitionsAgree(false, 2, false));
    EXPECT_FALSE(transitionsAgree(false, 2, true));
    EXPECT_FALSE(transitionsAgree(true, 0, false));
}

TEST(VirtualLines, EdgesCarryLineDirectionAndTheInstantTheyWereSent)
{
    fake::SerialDevices serial;
    VirtualLineServer server(serial.socketFor(1));
    ASSERT_TRUE(server.start());
    std::unique_ptr<SerialDevice> device = serial.devices.open(1, SerialSettings{});
    ASSERT_TRUE(server.waitForDesk(2000));
    const unsigned lines = EvCts | EvDsr | EvRlsd;
    unsigned received = 0;
    LineEdges edges;

    // One change: its direction, and a time between sending and the end of the wait.
    const std::int64_t before = monotonicNanos();
    server.set(LineDsr, true);
    ASSERT_EQ(device->waitEvents(lines, received, edges), SerialDevice::Wait::Events);
    const std::int64_t after = monotonicNanos();
    EXPECT_EQ(received, static_cast<unsigned>(EvDsr));
    ASSERT_EQ(edgeText(edges), "D+");
    EXPECT_GE(edges[0].nanos, before);
    EXPECT_LE(edges[0].nanos, after);
    EXPECT_EQ(edges[0].tick, 0u); // the port stamps the tick

    server.set(LineDsr, false);
    ASSERT_EQ(device->waitEvents(lines, received, edges), SerialDevice::Wait::Events);
    EXPECT_EQ(edgeText(edges), "D-");

    // Both messages of a 5 ms pulse read at once, 30 ms late: two edges of one report, on then
    // off, each dated to the instant it was sent, not to the late reading.
    const std::int64_t pulseOn = monotonicNanos();
    server.set(LineCts, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::int64_t pulseOff = monotonicNanos();
    server.set(LineCts, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(device->waitEvents(lines, received, edges), SerialDevice::Wait::Events);
    EXPECT_EQ(received, static_cast<unsigned>(EvCts));
    ASSERT_EQ(edgeText(edges), "C+ C-");
    // (The kernel dates messages on the real-time clock, which a time service may be adjusting a
    // little meanwhile: a millisecond of slack.)
    constexpr std::int64_t slack = 1'000'000;
    EXPECT_GE(edges[0].nanos, pulseOn - slack);
    EXPECT_LT(edges[0].nanos, pulseOff);
    EXPECT_GE(edges[1].nanos, pulseOff - slack);
    EXPECT_GE(edges[1].seen - edges[1].nanos, 25'000'000); // read late, dated early

    // DSR before CTS in one read, and an unwatched ring: the report gives CTS first, then DSR.
    server.set(LineDsr | LineRi, true);
    server.set(LineCts, true);
    server.set(LineDsr, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(device->waitEvents(lines, received, edges), SerialDevice::Wait::Events);
    EXPECT_EQ(received, static_cast<unsigned>(EvCts | EvDsr));
    EXPECT_EQ(edgeText(edges), "C+ D+ D-");
}
