#pragma once
// Serial devices on Linux: termios ttys watched with TIOCMIWAIT, and virtual lines on a
// UNIX-domain socket (see VirtualLines.h).

#include "Serial.h"

#include <termios.h>

namespace platform {

// Default device of COMn (index n); an empty name means no default.
using DeviceTable = std::array<QString, 17>;
DeviceTable defaultDeviceTable(); // COM1..4 ttyS0..3, COM5..12 ttyUSB0..7, COM13..16 ttyACM0..3

// The per-user devices folder: $ZIELKRON_DEVICES, else $XDG_CONFIG_HOME/Tempovia/devices, else
// ~/.config/Tempovia/devices. An entry "comN" there (a symbolic link to a device, or a virtual
// line socket) overrides the default device of COMn.
QString defaultDevicesFolder();

// The termios state a port's settings ask for.
struct TermiosSetup {
    termios tio{};
    speed_t speed = B0;   // the Bxxx constant of the rate, B0 when the rate has none
    int customBaud = 0;   // the rate, when it has no Bxxx constant
    bool dtr = true;      // DTR raised while open
    bool rts = false;     // RTS raised (under RTS/CTS handshake the driver runs it)
};
TermiosSetup termiosFor(const SerialSettings &settings);

class LinuxSerialDevices final : public SerialDevices {
public:
    LinuxSerialDevices(QString devicesFolder, DeviceTable defaults);
    QString deviceName(int port) override;
    std::unique_ptr<SerialDevice> open(int port, const SerialSettings &settings) override;
    std::unique_ptr<SerialDevice> openNode(const QString &node, const SerialSettings &settings) override;
    bool probe(int port) override;
    const QString &devicesFolder() const { return folder_; }

private:
    QString folder_;
    DeviceTable defaults_;
};

} // namespace platform
