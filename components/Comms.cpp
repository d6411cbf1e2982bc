#include "Comms.h"

#include "Realtime.h"

#include <QCoreApplication>
#include <QMetaMethod>

#include <chrono>

using platform::SerialDevice;

// ---------------------------------------------------------------------------------------------

TComThread::TComThread(TComPort *port, SerialDevice *device, unsigned eventMask, platform::TickSource *ticks)
    : port_(port), device_(device), mask_(eventMask), ticks_(ticks)
{
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true; // reports not yet handed over are dropped
    }
    queued_.notify_all();
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

void TComThread::watch()
{
    for (;;) {
        Report report;
        if (device_->waitEvents(mask_, report.received, report.edges) == SerialDevice::Wait::Stopped)
            break;
        // Each edge gets the tick of its own instant, so that a device that took a moment to settle
        // its counts (or a USB round trip for the levels) never makes an edge late, and the tick
        // and the instant of an edge agree.
        for (platform::LineEdge &e : report.edges)
            e.tick = tickAt(e.nanos);
        ++reportsSeen_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (reports_.size() < kMaxQueuedReports) {
                reports_.push_back(std::move(report));
            } else {
                // A UI thread that stays away that long gets the rest as one report.
                Report &last = reports_.back();
                last.received |= report.received;
                last.edges.insert(last.edges.end(), report.edges.begin(), report.edges.end());
            }
        }
        queued_.notify_one();
    }
    device_->purge();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        watching_ = false;
    }
    queued_.notify_all();
    watcherDone_ = true;
}

void TComThread::handOver()
{
    for (;;) {
        Report report;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [this] { return stopping_ || !watching_ || !reports_.empty(); });
            if (stopping_ || reports_.empty())
                break;
            report = std::move(reports_.front());
            reports_.pop_front();
        }
        QMetaObject::invokeMethod(
            port_, [port = port_, &report] { port->DispatchEvents(report.received, report.edges); },
            Qt::BlockingQueuedConnection);
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
    if (!devices_)
        throw EComHandle("Unable to open com port: no serial devices on this system");
    try {
        device_ = devices_->open(port_, settings());
    } catch (const platform::SerialError &e) {
        if (e.kind == platform::SerialError::State)
            throw EComState(std::string("Unable to set com state: ") + e.what());
        throw EComHandle(std::string("Unable to open com port: ") + e.what());
    }
    thread_ = std::make_unique<TComThread>(this, device_.get(), eventMask(), ticks_);
    connected_ = true;
    emit OnOpen(this);
}

void TComPort::Close()
{
    if (!connected_)
        return;
    thread_.reset();
    device_.reset();
    connected_ = false;
    emit OnClose(this);
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

void TComPort::DispatchEvents(unsigned received, const std::vector<platform::LineEdge> &edges)
{
    using namespace platform;
    for (const LineEdge &edge : edges)
        emit OnLineEdge(this, edge);
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
