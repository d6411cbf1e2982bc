#pragma once
// Serial port line monitor: opens one serial port, sets its line parameters and reports the port's
// events, above all changes of the modem-status lines CTS, DSR and RLSD, on the UI thread. A
// monitor thread (TComThread) per open port waits for the events without polling.

#include "Platform.h"
#include "Serial.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
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

// Waits for the port's events and hands each report to the UI thread. Two threads: the watcher
// waits and stamps every report with the tick counter the moment it arrives (at real-time
// priority when the desk gets it); the dispatcher hands the reports over to the UI thread in
// order, all it finds at once, blocking until they were dispatched. So an edge that comes while
// the UI thread is busy with the last one still gets its own time.
//
// The watcher never waits for a thread of normal priority: a dispatcher (or UI thread) preempted
// by ordinary programs must not delay its next wait, or the next edge of a real port is stamped
// late. Review note, for every change of its path from the device's wait to the hand-over
// (watch(), publish(), and the devices' waitEvents):
//  - no lock: the reports go through a single-producer, single-consumer ring of fixed-size slots
//    (head_ written by the watcher alone, tail_ by the dispatcher alone), and the dispatcher is
//    woken by an atomic notify (a futex on Linux; no lock in the standard library there). No
//    std::mutex, condition variable, QMutex, no Qt call, no logging on the path;
//  - no allocation: the device fills fixed storage (LineEdges), the ring is allocated before the
//    watcher starts; no std::vector, std::string, std::function on the path;
//  - a full ring never blocks it and never loses an edge silently: what does not fit is counted,
//    and a notice takes the ring's last free slot, so the UI thread learns of the loss
//    (TComPort::OnEdgesLost) right after the edges that came before the first edge lost;
//  - a device that fails (an adapter pulled out) ends the watcher: it notes the error and the
//    instant in atomics and ends, and the dispatcher, once it has handed over everything the ring
//    holds, tells the UI thread (TComPort::OnLost) as the port's last report. No slot of the ring
//    is needed for it, so a full ring cannot swallow it.
// tests/components/ComPortTest.cpp runs the path with every allocation and mutex lock of the
// watcher thread counted.
class TComThread {
public:
    // ticks: the desk's tick counter; nullptr: CLOCK_MONOTONIC in ms truncated to 32 bits.
    TComThread(TComPort *port, platform::SerialDevice *device, unsigned eventMask,
               platform::TickSource *ticks = nullptr);
    ~TComThread(); // stops both threads; a dispatch already handed over still runs meanwhile

    // The kernel thread id of the thread that waits and stamps (for its real-time priority).
    long threadId() const { return watcherId_.load(); }
    // Reports the port's own thread has taken so far, handed over or not (for tests).
    unsigned reportsSeen() const { return reportsSeen_.load(); }
    // The device failed: the watcher has ended (and the UI thread is told, or about to be).
    bool deviceLost() const { return goneError_.load() != 0; }

    // Slots of the ring: as many reports as the UI thread may fall behind by before edges are
    // lost (a report with more edges than a slot holds takes several). A UI thread that gets
    // little of a loaded machine was seen 1,000 reports behind a finish barrier pulsing every
    // 15 ms; this holds two minutes of that, in 1.2 MB per open port.
    static constexpr std::uint64_t kSlots = 16384;
    static constexpr std::size_t kSlotEdges = 2;

private:
    // One slot of the ring: a report of the device, or one part of it (a report with more edges
    // takes consecutive slots, its events on the last), or the notice of edges a full ring could
    // not take, in their place. Each kind of report has its place in the order of the port's
    // reports; a device that went away comes after all of them (goneError_).
    struct Slot {
        enum Kind : std::uint8_t { Edges, Lost } kind = Edges;
        bool last = true;        // Edges: the report's last slot; its events follow its edges
        std::uint8_t count = 0;  // Edges: edges in this slot
        unsigned received = 0;   // Edges: the report's events
        std::array<platform::LineEdge, kSlotEdges> edges{};
    };

    void watch();
    void publish(unsigned received, const platform::LineEdges &edges);
    void wake();
    void handOver();
    std::uint32_t tickAt(std::int64_t nanos);

    TComPort *port_;
    platform::SerialDevice *device_;
    unsigned mask_;
    platform::TickSource *ticks_;
    std::unique_ptr<Slot[]> slots_;
    alignas(64) std::atomic<std::uint64_t> head_{0}; // the next slot the watcher fills
    std::uint64_t noticeAt_ = 0;                     // the watcher's last notice of lost edges
    bool noticeSent_ = false;
    alignas(64) std::atomic<std::uint64_t> tail_{0}; // the next slot the dispatcher takes
    std::atomic<std::uint32_t> lostEdges_{0};        // not yet told to the UI thread
    std::atomic<unsigned> lostEvents_{0};
    std::atomic<std::uint32_t> wakeUps_{0};          // raised (and notified) for the dispatcher
    std::atomic<bool> stopping_{false};
    std::atomic<int> goneError_{0};          // the device failed with this error (0: it did not)
    std::atomic<std::int64_t> goneNanos_{0}; // when the watcher saw it fail (CLOCK_MONOTONIC)
    std::atomic<bool> watcherDone_{false};
    std::atomic<bool> dispatcherDone_{false};
    std::atomic<long> watcherId_{0};
    std::atomic<unsigned> reportsSeen_{0};
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
    // When connected (or lost): stops the monitor thread, closes the device, fires OnClose. Never
    // call it from a handler of this port's own events.
    void Close();
    // A lost port opened again, as Open does it (settings, monitor thread, OnOpen): at node, the
    // device as it came back, or (empty) at its port number's own device. False, and still lost,
    // when that fails or the port is not lost.
    bool Reopen(const QString &node = QString());
    // The device went away: the monitor thread ends, the device is closed, the port is lost
    // (OnLost) until it is reopened or closed. For a device the system says is gone; the monitor
    // thread calls it by itself when the device fails. Nothing happens unless connected.
    void Lose(int error);
    // A closed port whose device is still gone when it is to be opened again (the settings applied
    // while the adapter was out): lost as before (OnLost), so that its device is taken up again when
    // it returns. Nothing happens unless the port is closed and has a number.
    void MarkLost(int error);
    bool Lost() const { return lost_; }
    // The system's error number of the loss (0 while not lost) and when it was seen
    // (CLOCK_MONOTONIC nanoseconds).
    int LostError() const { return lostError_; }
    std::int64_t LostAt() const { return lostAt_; }
    // The device the port has open (or had, when it was lost): COMn's device name, or the node it
    // was reopened at.
    QString DeviceNode() const { return node_; }
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
    void DispatchEvents(unsigned received, const platform::LineEdge *edges, std::size_t count);
    void DispatchEvents(unsigned received, const std::vector<platform::LineEdge> &edges = {})
    {
        DispatchEvents(received, edges.data(), edges.size());
    }
    // Tells edges the monitor could not hand over (its ring was full: the UI thread stayed away
    // too long), and the events of reports lost whole.
    void DispatchLost(unsigned edges, unsigned events);
    // The device failed (error) at the instant nanos, after every report before it was dispatched:
    // the port is lost as soon as the dispatch has returned.
    void DispatchGone(int error, std::int64_t nanos);

signals:
    // One transition of a watched modem-status line, with the time it was seen; emitted before
    // the generic OnCTS, OnDSR ... of the same report.
    void OnLineEdge(TComPort *sender, platform::LineEdge edge);
    // Edges of the lines that came while the UI thread stayed away so long that the monitor had
    // no room left for them: they are lost, and this tells how many, in their place among the
    // port's edges.
    void OnEdgesLost(TComPort *sender, unsigned count);
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
    // The port's device went away (error: the system's error number); the port is closed and
    // stays lost until Reopen or Close.
    void OnLost(TComPort *sender, int error);

private:
    // Opens the device (at node, or COMn's own) and starts the monitor thread. Raises.
    void openDevice(const QString &node);
    void loseThread(unsigned generation, int error, std::int64_t nanos);

    platform::SerialDevices *devices_;
    platform::TickSource *ticks_;
    std::unique_ptr<platform::SerialDevice> device_;
    std::unique_ptr<TComThread> thread_;
    quint8 port_ = 1;
    quint8 dataBits_ = 8;
    bool connected_ = false;
    bool lost_ = false;
    int lostError_ = 0;
    std::int64_t lostAt_ = 0;
    QString node_;
    unsigned generation_ = 0; // counts the monitor threads: a late word of an ended one is dropped
};

Q_DECLARE_METATYPE(platform::LineEdge)
