#pragma once
// Serial port line monitor: opens one serial port, sets its line parameters and reports the port's
// events, above all changes of the modem-status lines CTS, DSR and RLSD, on the UI thread. A
// monitor thread (TComThread) per open port waits for the events without polling.

#include "Serial.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

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

// Waits for the port's events and hands each to the UI thread, blocking until it was dispatched.
class TComThread {
public:
    TComThread(TComPort *port, platform::SerialDevice *device, unsigned eventMask);
    ~TComThread(); // stops the thread; dispatches it already handed over still run meanwhile

private:
    void run();
    TComPort *port_;
    platform::SerialDevice *device_;
    unsigned mask_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

class TComPort : public QObject {
    Q_OBJECT
public:
    // The serial device service; without one every Open fails with EComHandle.
    explicit TComPort(QObject *parent = nullptr, platform::SerialDevices *devices = nullptr);
    ~TComPort() override;

    void setDevices(platform::SerialDevices *devices) { devices_ = devices; }

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

    // Runs the handlers of one wait's events, in the fixed order of the port.
    void DispatchEvents(unsigned received);

signals:
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
    std::unique_ptr<platform::SerialDevice> device_;
    std::unique_ptr<TComThread> thread_;
    quint8 port_ = 1;
    quint8 dataBits_ = 8;
    bool connected_ = false;
};
