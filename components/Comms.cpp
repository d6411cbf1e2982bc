#include "Comms.h"

#include "Realtime.h"

#include <QCoreApplication>
#include <QMetaMethod>

#include <algorithm>
#include <cerrno>
#include <chrono>

using platform::SerialDevice;

// ---------------------------------------------------------------------------------------------

TComThread::TComThread(TComPort *port, SerialDevice *device, unsigned eventMask, platform::TickSource *ticks)
    : port_(port), device_(device), mask_(eventMask), ticks_(ticks), slots_(std::make_unique<Slot[]>(kSlots))
{
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::uint32_t>::is_always_lock_free);
    watcher_ = std::thread([this] {
        watcherId_ = platform::currentThreadId();
        watcherId_.notify_all();
        // What the wait and the stamp touch stays in memory: no page fault between an edge and its
        // time.
        platform::keepStampPathResident(reinterpret_cast<const void *>(&platform::appendLineEdges));
        watch();
    });
    watcherId_.wait(0);
    dispatcher_ = std::thread([this] { handOver(); });
}

TComThread::~TComThread()
{
    stopping_ = true; // reports not yet handed over are dropped
    wake();
    // Ask again and again until the threads have ended: a stop that arrives just before the wait
    // blocks would otherwise be missed. A dispatch handed over meanwhile runs here, on the UI
    // thread, so that the hand-over returns.
    for (;;) {
        device_->stop();
        if (watcherDone_.load() && dispatcherDone_.load())
            break;
        QCoreApplication::sendPostedEvents(port_, QEvent::MetaCall);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    watcher_.join();
    dispatcher_.join();
}

std::uint32_t TComThread::tickAt(std::int64_t nanos)
{
    if (ticks_)
        return ticks_->tickAt(nanos);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(nanos) / 1000000u);
}

void TComThread::wake()
{
    wakeUps_.fetch_add(1);
    wakeUps_.notify_one();
}

void TComThread::watch()
{
    unsigned received = 0;
    platform::LineEdges edges;
    SerialDevice::Wait wait;
    while ((wait = device_->waitEvents(mask_, received, edges)) == SerialDevice::Wait::Events) {
        // Each edge gets the tick of its own instant, so that a device that took a moment to settle
        // its counts (or a USB round trip for the levels) never makes an edge late, and the tick
        // and the instant of an edge agree.
        for (platform::LineEdge &e : edges)
            e.tick = tickAt(e.nanos);
        ++reportsSeen_;
        publish(received, edges);
    }
    if (wait == SerialDevice::Wait::Lost) {
        // The dispatcher tells it once it has handed over every report before it.
        goneNanos_ = platform::monotonicNanos();
        const int error = device_->failure();
        goneError_ = error != 0 ? error : EIO;
    }
    device_->purge();
    watcherDone_ = true;
    wake();
}

void TComThread::publish(unsigned received, const platform::LineEdges &edges)
{
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t tail = tail_.load();
    std::uint64_t next = head;
    std::size_t taken = 0;
    Slot *lastTaken = nullptr;
    // The ring's last free slot is kept for a notice of what did not fit.
    while (next - tail < kSlots - 1) {
        Slot &slot = slots_[next++ % kSlots];
        slot.kind = Slot::Edges;
        slot.count = static_cast<std::uint8_t>(std::min(kSlotEdges, edges.size() - taken));
        std::copy_n(edges.begin() + taken, slot.count, slot.edges.begin());
        taken += slot.count;
        slot.last = taken == edges.size();
        slot.received = received;
        lastTaken = &slot;
        if (slot.last)
            break;
    }
    if (!lastTaken || !lastTaken->last) {
        // Full: the rest is lost, and told. A report cut short still has its events after the
        // edges it kept.
        if (lastTaken)
            lastTaken->last = true;
        else
            lostEvents_.fetch_or(received);
        lostEdges_.fetch_add(static_cast<std::uint32_t>(edges.size() - taken));
        // A notice still waiting in the ring tells these too (at the place of the first loss): the
        // dispatcher takes the counts only after it has moved past the notice's slot. (Counted
        // first, then the look at the tail: a count made after the dispatcher took the counts
        // finds the notice gone and writes a new one.)
        if (!noticeSent_ || tail_.load() > noticeAt_) {
            Slot &notice = slots_[next % kSlots];
            notice.kind = Slot::Lost;
            noticeAt_ = next++;
            noticeSent_ = true;
        }
    }
    if (next != head) {
        head_.store(next, std::memory_order_release);
        wake();
    }
}

void TComThread::handOver()
{
    // Everything the ring holds goes over in one call: a UI thread that comes back after a while
    // (or gets little of the processor) takes the whole backlog at once, not one report per
    // round trip between the threads.
    struct Handed {
        Slot::Kind kind;
        unsigned received; // Edges: the report's events; Lost: the events of reports lost whole
        std::size_t first; // Edges: its edges in edges[first, first + count)
        std::size_t count; // Lost: the edges lost
    };
    std::vector<Handed> batch;
    std::vector<platform::LineEdge> edges;
    std::size_t first = 0;
    for (;;) {
        const std::uint32_t wakeUps = wakeUps_.load();
        if (stopping_.load())
            break;
        const bool watcherDone = watcherDone_.load();
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        for (std::uint64_t tail = tail_.load(std::memory_order_relaxed); tail != head; ++tail) {
            const Slot slot = slots_[tail % kSlots];
            tail_.store(tail + 1); // the slot is free again
            if (slot.kind == Slot::Lost) {
                const unsigned lost = lostEdges_.exchange(0);
                batch.push_back({Slot::Lost, lostEvents_.exchange(0), 0, lost});
                continue;
            }
            edges.insert(edges.end(), slot.edges.begin(), slot.edges.begin() + slot.count);
            if (slot.last) {
                batch.push_back({Slot::Edges, slot.received, first, edges.size() - first});
                first = edges.size();
            }
        }
        if (batch.empty()) {
            if (watcherDone) {
                if (const int error = goneError_.load(); error != 0 && !stopping_.load())
                    QMetaObject::invokeMethod(
                        port_, [port = port_, error, nanos = goneNanos_.load()] { port->DispatchGone(error, nanos); },
                        Qt::BlockingQueuedConnection);
                break;
            }
            wakeUps_.wait(wakeUps);
            continue;
        }
        QMetaObject::invokeMethod(
            port_,
            [port = port_, &batch, &edges] {
                for (const Handed &h : batch)
                    if (h.kind == Slot::Lost)
                        port->DispatchLost(static_cast<unsigned>(h.count), h.received);
                    else
                        port->DispatchEvents(h.received, edges.data() + h.first, h.count);
            },
            Qt::BlockingQueuedConnection);
        batch.clear();
        edges.erase(edges.begin(), edges.begin() + static_cast<std::ptrdiff_t>(first));
        first = 0;
    }
    dispatcherDone_ = true;
}

// ---------------------------------------------------------------------------------------------

TComPort::TComPort(QObject *parent, platform::SerialDevices *devices, platform::TickSource *ticks)
    : QObject(parent), devices_(devices), ticks_(ticks)
{
    qRegisterMetaType<platform::LineEdge>();
}

TComPort::~TComPort()
{
    Close();
}

void TComPort::setDataBits(int bits)
{
    if (bits == dataBits_)
        return;
    dataBits_ = static_cast<quint8>(bits > 8 ? 8 : bits < 5 ? 5 : bits);
}

int TComPort::baudRateValue() const
{
    static const int rates[] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (BaudRate == brUser)
        return BaudRateUser;
    return rates[BaudRate];
}

unsigned TComPort::eventMask() const
{
    static const unsigned bits[] = {
        platform::EvRxChar, platform::EvTxEmpty, platform::EvRxFlag, platform::EvRing,  platform::EvBreak,
        platform::EvCts,    platform::EvDsr,     platform::EvError,  platform::EvRlsd,
    };
    unsigned mask = 0;
    for (int e = evRxChar; e <= evRLSD; ++e)
        if (Events & (1u << e))
            mask |= bits[e];
    return mask;
}

platform::SerialSettings TComPort::settings() const
{
    platform::SerialSettings s;
    s.baudRate = baudRateValue();
    s.dataBits = dataBits_;
    s.parity = Parity;
    s.stopBits = StopBits;
    s.flowControl = FlowControl;
    s.dtr = EnableDTR;
    s.readBufSize = ReadBufSize;
    s.writeBufSize = WriteBufSize;
    return s;
}

void TComPort::Open()
{
    Close();
    openDevice(QString());
}

void TComPort::openDevice(const QString &node)
{
    if (!devices_)
        throw EComHandle("Unable to open com port: no serial devices on this system");
    try {
        device_ = node.isEmpty() ? devices_->open(port_, settings()) : devices_->openNode(node, settings());
    } catch (const platform::SerialError &e) {
        if (e.kind == platform::SerialError::State)
            throw EComState(std::string("Unable to set com state: ") + e.what());
        throw EComHandle(std::string("Unable to open com port: ") + e.what());
    }
    node_ = node.isEmpty() ? devices_->deviceName(port_) : node;
    ++generation_;
    thread_ = std::make_unique<TComThread>(this, device_.get(), eventMask(), ticks_);
    connected_ = true;
    lost_ = false;
    lostError_ = 0;
    lostAt_ = 0;
    emit OnOpen(this);
}

bool TComPort::Reopen(const QString &node)
{
    if (!lost_)
        return false;
    try {
        openDevice(node);
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

void TComPort::Close()
{
    if (!connected_ && !lost_)
        return;
    ++generation_; // a loss the ended thread may still have posted counts for nothing
    thread_.reset();
    device_.reset();
    connected_ = false;
    lost_ = false;
    lostError_ = 0;
    emit OnClose(this);
}

void TComPort::Lose(int error)
{
    loseThread(generation_, error, platform::monotonicNanos());
}

void TComPort::MarkLost(int error)
{
    if (connected_ || lost_ || port_ == 0)
        return;
    lost_ = true;
    lostError_ = error != 0 ? error : ENODEV;
    lostAt_ = platform::monotonicNanos();
    emit OnLost(this, lostError_);
}

void TComPort::loseThread(unsigned generation, int error, std::int64_t nanos)
{
    if (!connected_ || !thread_ || generation != generation_)
        return;
    ++generation_;
    thread_.reset();
    device_.reset(); // closed at once, so that the system can give the adapter its number back
    connected_ = false;
    lost_ = true;
    lostError_ = error != 0 ? error : EIO;
    lostAt_ = nanos;
    emit OnLost(this, lostError_);
}

void TComPort::DispatchGone(int error, std::int64_t nanos)
{
    // Told while the port's thread is being ended (a Close or a loss that came first, running
    // this dispatch so that the thread can end): the port is closing anyway, nothing more to do.
    if (!thread_)
        return;
    // The monitor thread is inside this dispatch: the port lets it go first.
    QMetaObject::invokeMethod(
        this, [this, generation = generation_, error, nanos] { loseThread(generation, error, nanos); },
        Qt::QueuedConnection);
}

quint32 TComPort::GetModemStatus()
{
    if (!device_)
        return 0;
    return device_->modemStatus().value_or(0);
}

qint32 TComPort::GetInQueue()
{
    return device_ ? device_->inQueue() : 0;
}

void TComPort::DispatchEvents(unsigned received, const platform::LineEdge *edges, std::size_t count)
{
    using namespace platform;
    for (std::size_t i = 0; i < count; ++i)
        emit OnLineEdge(this, edges[i]);
    if (received & EvRxChar) {
        static const QMetaMethod rx = QMetaMethod::fromSignal(&TComPort::OnRxChar);
        if (isSignalConnected(rx))
            emit OnRxChar(this, GetInQueue());
    }
    if (received & EvTxEmpty)
        emit OnTxEmpty(this);
    if (received & EvBreak)
        emit OnBreak(this);
    if (received & EvRing)
        emit OnRing(this);
    if (received & EvCts)
        emit OnCTS(this);
    if (received & EvDsr)
        emit OnDSR(this);
    if (received & EvRxFlag)
        emit OnRxFlag(this);
    if (received & EvRlsd)
        emit OnRLSD(this);
    if (received & EvError)
        emit OnError(this);
}

void TComPort::DispatchLost(unsigned edges, unsigned events)
{
    if (edges > 0) {
        qWarning("COM%d: %u line edges lost, the user interface did not take them in time", int(port_), edges);
        emit OnEdgesLost(this, edges);
    }
    if (events)
        DispatchEvents(events, nullptr, 0);
}
