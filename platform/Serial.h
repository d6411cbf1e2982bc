#pragma once
// Serial devices: the port numbers COM1..COM16 mapped to device names, exclusive opening with line
// settings, waiting for changes of the modem-status lines, reading their levels.

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

namespace platform {

// Events of a serial port, numbered as the port monitor's event mask.
enum SerialEvent : unsigned {
    EvRxChar = 0x0001,
    EvRxFlag = 0x0002,
    EvTxEmpty = 0x0004,
    EvCts = 0x0008,
    EvDsr = 0x0010,
    EvRlsd = 0x0020,
    EvBreak = 0x0040,
    EvError = 0x0080,
    EvRing = 0x0100,
};

// Modem-status bits as the port monitor reports them.
enum ModemStatusBit : unsigned { MsCts = 0x10, MsDsr = 0x20, MsRing = 0x40, MsRlsd = 0x80 };

// Line settings of an opened port.
struct SerialSettings {
    int baudRate = 9600;
    int dataBits = 8;       // 5..8
    int parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;       // 0 one, 1 one and a half, 2 two
    int flowControl = 0;    // 0 none, 1 RTS/CTS, 2 XON/XOFF
    bool dtr = true;
    int readBufSize = 2048;
    int writeBufSize = 2048;
};

// One transition of a modem-status input line, as the port's monitor thread saw it.
struct LineEdge {
    unsigned line = 0;        // EvCts, EvDsr, EvRlsd or EvRing
    bool active = false;      // true: the line became active (on); false: it became inactive
    std::uint32_t tick = 0;   // the desk's millisecond tick counter (TickSource) when the change was seen
    std::int64_t nanos = 0;   // CLOCK_MONOTONIC nanoseconds of the change, as early as the device can tell;
                              // orders edges across ports
    std::int64_t seen = 0;    // CLOCK_MONOTONIC nanoseconds when the port's thread took the change in
                              // (not before nanos; the difference is how long the change waited for it)
};

// The modem-status events in the order a report hands their edges over.
inline constexpr unsigned kLineEventOrder[] = {EvCts, EvDsr, EvRlsd, EvRing};

// The edges of one report in storage of fixed size: a port's monitor thread fills it without
// allocating. Enough for every modem-status line chattering at once (kMaxEdgesPerLine each); an
// edge beyond that is refused (push_back false), never stored elsewhere.
inline constexpr std::uint32_t kMaxEdgesPerLine = 16;
class LineEdges {
public:
    static constexpr std::size_t kCapacity = 4 * kMaxEdgesPerLine;

    bool push_back(const LineEdge &edge)
    {
        if (size_ == kCapacity)
            return false;
        edges_[size_++] = edge;
        return true;
    }
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    std::size_t room() const { return kCapacity - size_; }
    LineEdge &operator[](std::size_t i) { return edges_[i]; }
    const LineEdge &operator[](std::size_t i) const { return edges_[i]; }
    LineEdge *begin() { return edges_.data(); }
    LineEdge *end() { return edges_.data() + size_; }
    const LineEdge *begin() const { return edges_.data(); }
    const LineEdge *end() const { return edges_.data() + size_; }
    LineEdge &front() { return edges_[0]; }
    LineEdge &back() { return edges_[size_ - 1]; }
    const LineEdge &front() const { return edges_[0]; }
    const LineEdge &back() const { return edges_[size_ - 1]; }

private:
    std::array<LineEdge, kCapacity> edges_{};
    std::size_t size_ = 0;
};

// The transitions of one line between two reports: the level at the last report, the number of
// transitions the driver counted since (transitions), and the level read now. An odd count flips
// the level, an even one is a pulse (or several) there and back. A level change without a count
// (a driver that does not count the line) is one transition; a count whose parity disagrees with
// the levels lost one transition in the driver (a pulse shorter than its status read) and gets
// it back, so that the edges always end at the level read now. A line that chattered more than
// kMaxEdgesPerLine times gives that many (keeping first direction and last level). Appends the
// edges, all stamped with nanos.
void appendLineEdges(LineEdges &edges, unsigned line, bool previous, std::uint32_t transitions, bool current,
                     std::int64_t nanos);

// True when a count of transitions and the two levels tell the same story (odd count, changed
// level; even count, same level).
inline bool transitionsAgree(bool previous, std::uint32_t transitions, bool current)
{
    return ((transitions & 1u) != 0) == (previous != current);
}

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t monotonicNanos();

class SerialError : public std::runtime_error {
public:
    enum Kind { Open, State };
    SerialError(Kind kind, const std::string &text) : std::runtime_error(text), kind(kind) {}
    Kind kind;
};

// One opened device. Destroying it closes the device.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Lost: the device failed (unplugged: EIO, ENXIO, ENODEV, a hang-up, a virtual line's socket
    // closed); every later wait returns Lost at once, and failure() tells why.
    enum class Wait { Events, Stopped, Lost };
    // Blocks until one of the events of mask occurs (received gets them) or stop() was called.
    // Called by the port's monitor thread only, and on its time-critical path: neither allocates
    // nor takes a lock that another thread may hold (see Comms.h). An empty mask waits for the
    // stop alone. received and edges are replaced, not added to. edges gets the transitions of
    // the watched modem-status lines of the report (tick left 0 for the caller to stamp): per line
    // in the order CTS, DSR, RLSD, RI, each line's transitions in the order they happened, all
    // with the time the device saw the report. Edges the device took in before it failed are
    // reported first; the wait after them returns Lost.
    virtual Wait waitEvents(unsigned mask, unsigned &received, LineEdges &edges) = 0;
    // The system's error number that ended the device, once a wait returned Lost (0 before).
    // Read by the thread that waits, or by another one after that thread has ended.
    virtual int failure() const { return 0; }
    // Thread-safe: ends the current wait and every later one. Cheap enough to repeat.
    virtual void stop() = 0;
    // Modem-status bits (MsCts ...), nothing when they cannot be read.
    virtual std::optional<unsigned> modemStatus() = 0;
    virtual int inQueue() = 0;
    // Discards both queues.
    virtual void purge() = 0;
};

class SerialDevices {
public:
    virtual ~SerialDevices() = default;
    // The device name of COMn.
    virtual QString deviceName(int port) = 0;
    // Opens COMn exclusively with the settings; throws SerialError (Open: the device cannot be
    // opened; State: the settings were refused) with the system's error text.
    virtual std::unique_ptr<SerialDevice> open(int port, const SerialSettings &settings) = 0;
    // The same for a device named directly (an adapter that came back under another number), as
    // open does it for COMn's own device.
    virtual std::unique_ptr<SerialDevice> openNode(const QString &node, const SerialSettings &settings) = 0;
    // True when COMn exists and can be opened now; whatever it opens it closes again.
    virtual bool probe(int port) = 0;
};

} // namespace platform
