#pragma once
// Serial port line monitor: opens one serial port, sets its line parameters and reports the port's
// events, above all changes of the modem-status lines CTS, DSR and RLSD, on the UI thread. A
// monitor thread (TComThread) per open port waits for the events without polling.

#include "Platform.h"
#include "Serial.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

class EComHandle : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EComState : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TBaudRate { br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
                 br56000, br57600, br115200, br128000, br256000, brUser };
enum TParity { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TFlowControl { fcNone, fcRtsCts, fcXonXoff };
// Declaration order is the bit order of the stored event set.
enum TEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD };
using TEvents = unsigned; // bit (1 << TEvent)
constexpr TEvents AllEvents = 0x1FF;

class TComPort;

// Waits for the port's events and hands each report to the UI thread, blocking until it was
// dispatched. The waiting never stops for a hand-over: one thread waits and stamps every report
// with the tick counter the moment it arrives, a second one hands the reports over in order. So
// an edge that comes while the UI thread is busy with the last one still gets its own time.
class TComThread {
public:
    // ticks: the desk's tick counter; nullptr: CLOCK_MONOTONIC in ms truncated to 32 bits.
    TComThread(TComPort *port, platform::SerialDevice *device, unsigned eventMask,
               platform::TickSource *ticks = nullptr);
    ~TComThread(); // stops both threads; a dispatch already handed over still runs meanwhile

    // The kernel thread id of the thread that waits and stamps (for its real-time priority).
    long threadId() const { return watcherId_.load(); }

private:
    struct Report {
        unsigned received = 0;
        std::vector<platform::LineEdge> edges;
    };
    static constexpr std::size_t kMaxQueuedReports = 1024;
    void watch();
    void handOver();
    std::uint32_t tickAt(std::int64_t nanos);

    TComPort *port_;
    platform::SerialDevice *device_;
    unsigned mask_;
    platform::TickSource *ticks_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Report> reports_;
    bool watching_ = true;
    bool stopping_ = false;
    std::atomic<bool> watcherDone_{false};
    std::atomic<long> watcherId_{0};
    std::atomic<unsigned> reportsSeen_{0};

public:
    // Reports the port's own thread has taken so far, handed over or not (for tests).
    unsigned reportsSeen() const { return reportsSeen_.load(); }

private:
    std::atomic<bool> dispatcherDone_{false};
    std::thread watcher_;
    std::thread dispatcher_;
};

class TComPort : public QObject {
    Q_OBJECT
public:
    // The serial device service; without one every Open fails with EComHandle. ticks stamps the
    // line edges (nullptr: CLOCK_MONOTONIC in ms truncated to 32 bits).
    explicit TComPort(QObject *parent = nullptr, platform::SerialDevices *devices = nullptr,
                      platform::TickSource *ticks = nullptr);
    ~TComPort() override;

    void setDevices(platform::SerialDevices *devices) { devices_ = devices; }
    void setTicks(platform::TickSource *ticks) { ticks_ = ticks; } // used from the next Open

    quint8 Port() const { return port_; }
    void setPort(quint8 port) { port_ = port; }
    bool Connected() const { return connected_; }
    TBaudRate BaudRate = br9600;
    qint32 BaudRateUser = 9600;
    TParity Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    TFlowControl FlowControl = fcNone;
    quint8 DataBits() const { return dataBits_; }
    void setDataBits(int bits); // kept within 5..8
    TEvents Events = AllEvents;
    bool EnableDTR = true;
    qint32 WriteBufSize = 2048;
    qint32 ReadBufSize = 2048;

    // Closes the port if open, opens the device, applies the settings, starts the monitor thread,
    // fires OnOpen. Raises EComHandle or EComState.
    void Open();
    // When connected: stops the monitor thread, closes the device, fires OnClose. Never call it
    // from a handler of this port's own events.
    void Close();
    // Modem-status bits: 0x10 CTS, 0x20 DSR, 0x40 ring, 0x80 RLSD; 0 when closed or unreadable.
    quint32 GetModemStatus();
    qint32 GetInQueue();

    // The line speed in bits per second that the settings ask for.
    int baudRateValue() const;
    // The event mask of the monitor thread built from Events.
    unsigned eventMask() const;
    platform::SerialSettings settings() const;

    // Reports the monitor thread has taken since the port was opened (0 when closed).
    unsigned ReportsSeen() const { return thread_ ? thread_->reportsSeen() : 0; }
    // The kernel thread id of the thread that waits for the lines and stamps their edges, 0 when
    // closed.
    long WatcherThreadId() const { return thread_ ? thread_->threadId() : 0; }

    // Runs the handlers of one wait's events: OnLineEdge for each edge in order, then the
    // generic events in the fixed order of the port.
    void DispatchEvents(unsigned received, const std::vector<platform::LineEdge> &edges = {});

signals:
    // One transition of a watched modem-status line, with the time it was seen; emitted before
    // the generic OnCTS, OnDSR ... of the same report.
    void OnLineEdge(TComPort *sender, platform::LineEdge edge);
    void OnRxChar(TComPort *sender, qint32 inQue);
    void OnTxEmpty(TComPort *sender);
    void OnBreak(TComPort *sender);
    void OnRing(TComPort *sender);
    void OnCTS(TComPort *sender);
    void OnDSR(TComPort *sender);
    void OnRxFlag(TComPort *sender);
    void OnRLSD(TComPort *sender);
    void OnError(TComPort *sender);
    void OnOpen(TComPort *sender);
    void OnClose(TComPort *sender);

private:
    platform::SerialDevices *devices_;
    platform::TickSource *ticks_;
    std::unique_ptr<platform::SerialDevice> device_;
    std::unique_ptr<TComThread> thread_;
    quint8 port_ = 1;
    quint8 dataBits_ = 8;
    bool connected_ = false;
};

Q_DECLARE_METATYPE(platform::LineEdge)
