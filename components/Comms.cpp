#include "Comms.h"

TComPort::TComPort(QObject *parent) : QObject(parent) {}

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

void TComPort::Open()
{
    Close();
    throw EComHandle("Unable to open com port: no serial device service");
}

void TComPort::Close()
{
    if (!connected_)
        return;
    connected_ = false;
    emit OnClose(this);
}

quint32 TComPort::GetModemStatus()
{
    return 0;
}
