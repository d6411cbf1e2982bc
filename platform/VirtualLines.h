#pragma once
// Virtual serial lines: a UNIX-domain socket that stands in for a serial port's modem-status
// inputs. The server end is the light barrier (the simulator, or a test); the desk's port connects
// as its one client.
//
// The socket keeps message boundaries (SOCK_SEQPACKET), and the kernel stamps every message with
// the instant it was sent, so the desk dates a line change to the moment the light barrier's
// stand-in sent it, however late its port's thread comes to read it.
//
// Protocol, one text line per message, each ended by LF:
//   client -> server  "OPEN"                       the desk attaches; answered by the levels, or
//                                                  "BUSY" when another desk is attached
//   client -> server  "PROBE"                      answered as OPEN, but nothing attaches
//   server -> client  "CTS=1 DSR=0 DCD=1 RI=0"     the new line levels, one message per change
//   client -> server  "CMD <lines> on|off|pulse [ms]"  a command of the simulator's command line,
//                                                  answered by "OK" or "ERR <text>"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

enum LineBit : unsigned { LineCts = 1, LineDsr = 2, LineDcd = 4, LineRi = 8 };

// The longest message either side sends or takes.
inline constexpr std::size_t kMaxLineMessage = 512;

// Connects to the socket of a virtual line (-1 with errno set when that fails).
int connectLineSocket(const std::string &path);
// Sends one message (a text line; the LF is added); false when it could not be sent whole.
bool sendLineMessage(int fd, const std::string &text);
// Receives one message within the time, without its line end; nothing on end, error or time-out.
std::optional<std::string> receiveLineMessage(int fd, int timeoutMs);

std::string formatLevels(unsigned levels);
// The levels of a message "CTS=1 DSR=0 DCD=1 RI=0" (any order, missing names keep 'previous').
// Allocates nothing: a port's monitor thread reads its messages with it.
std::optional<unsigned> parseLevels(std::string_view message, unsigned previous);

// A parsed command "<line>[+<line>...] on|off|pulse [ms]": lines are cts, dsr, dcd (or rlsd), ri.
struct LineCommand {
    unsigned lines = 0;
    enum Action { On, Off, Pulse } action = On;
    int pulseMs = 50;
};
std::optional<LineCommand> parseLineCommand(const std::string &text, std::string *error);

class VirtualLineServer {
public:
    explicit VirtualLineServer(std::string socketPath);
    ~VirtualLineServer();
    VirtualLineServer(const VirtualLineServer &) = delete;
    VirtualLineServer &operator=(const VirtualLineServer &) = delete;

    // Creates the socket and starts serving; false with the reason when that fails.
    bool start(std::string *error = nullptr);
    void stop();
    // As a USB adapter pulled out and put back: unplug closes the desk's connection and removes
    // the socket (the desk's port fails, the device is gone); replug creates a new socket under
    // the same name, with the levels the lines had. False when there was nothing to do, or (replug)
    // with the reason when the socket could not be made.
    bool unplug();
    bool replug(std::string *error = nullptr);
    bool plugged() const { return running_.load(); }
    const std::string &path() const { return path_; }

    // Sets the given lines on or off in one message.
    void set(unsigned lines, bool on);
    // Sets the lines, waits ms milliseconds and clears them; 0 sends both messages back to back.
    void pulse(unsigned lines, int ms);
    // Runs a parsed command.
    void apply(const LineCommand &command);
    unsigned levels() const { return levels_.load(); }
    bool deskAttached() const { return desk_ >= 0; }
    // Waits until a desk is attached (true) or the time is up.
    bool waitForDesk(int timeoutMs);

    // Called (on the server's thread) with a line of text for every event worth telling.
    std::function<void(const std::string &)> onEvent;

private:
    void run();
    void sendLevels(unsigned levels);
    void handleClient(int fd);
    void dropDeadDesk();
    void tell(const std::string &text);

    std::string path_;
    int listen_ = -1;
    int wake_ = -1;
    std::atomic<int> desk_{-1};
    std::atomic<unsigned> levels_{0};
    std::mutex sendMutex_;
    std::mutex deskMutex_;
    std::condition_variable deskChanged_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

} // namespace platform
