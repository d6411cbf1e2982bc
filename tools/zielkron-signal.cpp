// zielkron-signal: the light barrier and start contact simulator of the desk. It serves virtual
// serial lines (UNIX-domain sockets named comN in the devices folder) that the desk opens like
// serial ports, and sets, clears or pulses their modem-status lines on command.

#include "SerialLinux.h"
#include "Version.h"
#include "VirtualLines.h"

#include <QDir>
#include <QFile>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

using namespace platform;

namespace {

std::atomic<bool> quit{false};

// Also the source of the manual page (tools/man-page.sh): "Heading:" after a blank line opens a
// section, "  TERM  text" is an item whose text goes on in lines indented further.
const char *const kUsage = R"(Aufruf: zielkron-signal serve [COMn ...]
  oder: zielkron-signal COMn LEITUNGEN on|off|pulse [ms]
Simulator der Lichtschranken und des Startkontakts für das Zeitnahmepult zielkron.

Befehle:
  serve [COMn ...]   virtuelle Leitungen für die Ports bereitstellen (ohne Angabe COM1 bis COM4)
                     und Befehle von der Standardeingabe lesen, bis "quit", Strg+D oder Strg+C
  COMn LEITUNGEN on|off|pulse [ms]
                     einen Befehl an den laufenden Simulator schicken,
                     z. B. "zielkron-signal COM1 dsr pulse 50"
Leitungen sind cts, dsr, dcd (auch rlsd) und ri, mehrere zugleich mit "+": "cts+dsr on".
Ein Impuls (pulse) dauert 50 ms, wenn keine Dauer angegeben ist; "pulse 0" schickt on und off
unmittelbar nacheinander.

Befehle auf der Standardeingabe:
  COMn LEITUNGEN on|off|pulse [ms]
                     wie oben
  start              Impuls des Startkontakts (COM1 DSR)
  finish             Impuls der Ziel-Lichtschranke (COM1 CTS)
  lane N             Impuls der Lichtschranke von Bahn N (1 bis 10)
  wait MS            die Befehle MS Millisekunden lang anhalten (für Rennen nach Drehbuch)
  unplug COMn        den Port abziehen wie einen USB-Adapter: die Verbindung zum Pult
                     bricht ab, die Leitung verschwindet aus dem Geräteordner
  replug COMn        den abgezogenen Port wieder einstecken: eine neue Leitung unter
                     demselben Namen, mit den Pegeln von vorher; das Pult öffnet sie wieder
  status             die Pegel der Leitungen aller Ports zeigen
  help               diese Hilfe zeigen
  quit               beenden

Optionen:
  -h, --help         diese Hilfe zeigen und beenden
      --version      Version zeigen und beenden

Verdrahtung des Pults:
COM1 DSR Startkontakt, CTS Ziel-Lichtschranke, DCD Bahn 1; COM2 DCD Bahn 2, DSR Bahn 3,
CTS Bahn 4; COM3 DCD Bahn 5, DSR 6, CTS 7; COM4 DCD Bahn 8, DSR 9, CTS 10.

Umgebungsvariablen:
  ZIELKRON_DEVICES   der Geräteordner, in dem die virtuellen Leitungen com1 … com16 liegen
                     (Vorgabe: ~/.config/Tempovia/devices)
)";

int portNumber(const std::string &name)
{
    if (name.size() < 4 || strncasecmp(name.c_str(), "com", 3) != 0)
        return 0;
    char *end = nullptr;
    const long n = std::strtol(name.c_str() + 3, &end, 10);
    return (*end == '\0' && n >= 1 && n <= 16) ? static_cast<int>(n) : 0;
}

std::string socketPath(int port)
{
    return QDir(defaultDevicesFolder()).filePath(QStringLiteral("com%1").arg(port)).toStdString();
}

// The port and line of lane n.
std::pair<int, std::string> laneLine(int lane)
{
    static const char *const lines[] = {"dcd", "dsr", "cts"};
    if (lane == 1)
        return {1, "dcd"};
    return {2 + (lane - 2) / 3, lines[(lane - 2) % 3]};
}

int sendOne(int port, const std::string &command)
{
    const std::string path = socketPath(port);
    const int fd = connectLineSocket(path);
    if (fd < 0) {
        std::cerr << "zielkron-signal: COM" << port << " is not served (" << path
                  << "); start 'zielkron-signal serve' first\n";
        return 2;
    }
    const std::optional<std::string> reply =
        sendLineMessage(fd, "CMD " + command) ? receiveLineMessage(fd, 70000) : std::nullopt;
    ::close(fd);
    if (reply == "OK")
        return 0;
    std::cerr << "zielkron-signal: " << (reply && reply->rfind("ERR ", 0) == 0 ? reply->substr(4) : "no answer") << "\n";
    return 1;
}

class Simulator {
public:
    bool serve(int port)
    {
        auto server = std::make_unique<VirtualLineServer>(socketPath(port));
        server->onEvent = [port](const std::string &text) { std::cout << "COM" << port << ": " << text << std::endl; };
        std::string why;
        if (!server->start(&why)) {
            std::cerr << "zielkron-signal: COM" << port << ": " << why << "\n";
            return false;
        }
        std::cout << "COM" << port << " -> " << server->path() << std::endl;
        servers_[port] = std::move(server);
        return true;
    }

    bool run(int port, const std::string &command)
    {
        auto it = servers_.find(port);
        if (it == servers_.end()) {
            std::cout << "COM" << port << " is not served here" << std::endl;
            return false;
        }
        std::string why;
        const std::optional<LineCommand> cmd = parseLineCommand(command, &why);
        if (!cmd) {
            std::cout << why << std::endl;
            return false;
        }
        it->second->apply(*cmd);
        std::cout << "COM" << port << ": " << formatLevels(it->second->levels())
                  << (it->second->deskAttached() ? "" : "  (no desk attached)") << std::endl;
        return true;
    }

    void status()
    {
        for (const auto &[port, server] : servers_)
            std::cout << "COM" << port << ": " << formatLevels(server->levels())
                      << (!server->plugged() ? "  unplugged" : server->deskAttached() ? "  desk attached" : "  no desk")
                      << std::endl;
    }

    // Pulls a port's line out, or puts it back in.
    void plug(const std::string &name, bool in)
    {
        const int port = portNumber(name);
        auto it = servers_.find(port);
        if (it == servers_.end()) {
            std::cout << (port ? "COM" + std::to_string(port) + " is not served here" : "usage: unplug|replug COMn")
                      << std::endl;
            return;
        }
        std::string why;
        if (in ? it->second->replug(&why) : it->second->unplug())
            return; // the server tells it
        std::cout << "COM" << port << (in ? ": " + why : ": unplugged already") << std::endl;
    }

    void handle(const std::string &line)
    {
        std::istringstream in(line);
        std::string first;
        in >> first;
        if (first.empty() || first[0] == '#')
            return;
        std::string rest;
        std::getline(in, rest);
        if (first == "quit" || first == "exit") {
            quit = true;
        } else if (first == "status") {
            status();
        } else if (first == "help") {
            std::cout << kUsage;
        } else if (first == "start") {
            run(1, "dsr pulse 50");
        } else if (first == "finish") {
            run(1, "cts pulse 20");
        } else if (first == "lane") {
            const int lane = std::atoi(rest.c_str());
            if (lane < 1 || lane > 10) {
                std::cout << "lane 1..10" << std::endl;
                return;
            }
            const auto [port, name] = laneLine(lane);
            run(port, name + " pulse 20");
        } else if (first == "unplug" || first == "replug") {
            std::istringstream args(rest);
            std::string port;
            args >> port;
            plug(port, first == "replug");
        } else if (first == "wait") {
            const int ms = std::atoi(rest.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(ms < 0 ? 0 : ms));
        } else if (const int port = portNumber(first)) {
            run(port, rest);
        } else {
            std::cout << "unknown command; try 'help'" << std::endl;
        }
    }

private:
    std::map<int, std::unique_ptr<VirtualLineServer>> servers_;
};

int serve(int argc, char **argv)
{
    QDir().mkpath(defaultDevicesFolder());
    Simulator sim;
    std::vector<int> ports;
    for (int i = 2; i < argc; ++i) {
        const int port = portNumber(argv[i]);
        if (!port) {
            std::cerr << "zielkron-signal: not a port: " << argv[i] << "\n";
            return 2;
        }
        ports.push_back(port);
    }
    if (ports.empty())
        ports = {1, 2, 3, 4};
    for (int port : ports)
        if (!sim.serve(port))
            return 1;

    std::signal(SIGINT, [](int) { quit = true; });
    std::signal(SIGTERM, [](int) { quit = true; });
    std::string buffer;
    bool input = true;
    while (!quit) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (!input || ::poll(&p, 1, 200) <= 0) {
            if (!input)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            continue;
        }
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input = false; // end of input: keep serving until Ctrl+C
            continue;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t eol;
        while (!quit && (eol = buffer.find('\n')) != std::string::npos) {
            sim.handle(buffer.substr(0, eol));
            buffer.erase(0, eol + 1);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::cout << kUsage;
        return argc < 2 ? 2 : 0;
    }
    if (std::string(argv[1]) == "--version") {
        std::cout << "zielkron-signal " << build::Version << " (erstellt am " << build::Date << ")\n";
        return 0;
    }
    if (std::string(argv[1]) == "serve")
        return serve(argc, argv);
    const int port = portNumber(argv[1]);
    if (!port || argc < 4) {
        std::cerr << kUsage;
        return 2;
    }
    std::string command;
    for (int i = 2; i < argc; ++i)
        command += (i > 2 ? " " : "") + std::string(argv[i]);
    std::string why;
    if (!parseLineCommand(command, &why)) {
        std::cerr << "zielkron-signal: " << why << "\n";
        return 2;
    }
    return sendOne(port, command);
}
