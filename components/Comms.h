#pragma once
// Serial port line monitor: opens one serial port and reports changes of its modem-status lines.
// The device layer arrives with the serial services of the platform; until then every Open fails
// with EComHandle, which the desk swallows like any missing port.

#include <QObject>
#include <stdexcept>

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
enum TEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD };
using TEvents = unsigned; // bit (1 << TEvent)

class TComPort : public QObject {
    Q_OBJECT
public:
    explicit TComPort(QObject *parent = nullptr);
    ~TComPort() override;

    quint8 Port() const { return port_; }
    void setPort(quint8 port) { port_ = port; }
    bool Connected() const { return connected_; }
    TBaudRate BaudRate = br9600;
    qint32 BaudRateUser = 9600;
    TParity Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    TFlowControl FlowControl = fcNone;
    quint8 DataBits() const { return dataBits_; }
    void setDataBits(int bits);
    TEvents Events = 0x1FF;
    bool EnableDTR = true;
    qint32 WriteBufSize = 2048;
    qint32 ReadBufSize = 2048;

    void Open();
    void Close();
    quint32 GetModemStatus();

signals:
    void OnOpen(TComPort *sender);
    void OnClose(TComPort *sender);
    void OnCTS(TComPort *sender);
    void OnDSR(TComPort *sender);
    void OnRLSD(TComPort *sender);

private:
    quint8 port_ = 1;
    quint8 dataBits_ = 8;
    bool connected_ = false;
};
