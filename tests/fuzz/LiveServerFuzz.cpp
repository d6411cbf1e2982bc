// The live view's web server as a browser on the network reaches it: one server on the loopback
// address for the whole run, each input sent as it is on a connection of its own. Whatever comes
// in, the server answers with HTTP or closes, and serves on.

#include "LiveServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

live::LiveServer &server()
{
    static live::LiveServer *s = [] {
        auto *made = new live::LiveServer;
        live::ServerOptions options;
        options.bind = "127.0.0.1";
        options.port = 0;
        options.maxStreams = 4;
        options.readTimeoutMs = 200;
        options.writeTimeoutMs = 200;
        // As behind a reverse proxy: every input's X-Forwarded-For is read and counted for.
        options.trustedProxies = {"127.0.0.1"};
        if (!made->start(options))
            std::abort();
        made->publish(R"("title":"Kreismeisterschaften","heat":"1","lanes":[{"lane":1,"name":"Anna","time":"12,34"}])",
                      R"("meeting":{"title":"Kreismeisterschaften","date":""},"heats":[],"rankings":[])", 1000);
        return made;
    }();
    return *s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int port = server().port();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Closed with a reset, so that a thousand connections a second leave no local ports waiting.
    const linger reset{1, 0};
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        ::close(fd);
        if (error == ECONNREFUSED || attempt == 100)
            std::abort(); // the server stopped serving
        ::usleep(10000); // the loopback ran out of ports: the system frees them
    }
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break; // the server may close on a request it refuses
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    // The answer's head; an event stream goes on, so the read stops after the head.
    std::string answer;
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (answer.find("\r\n\r\n") == std::string::npos && ::poll(&p, 1, 2000) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0)
        std::abort();
    return 0;
}
