// Requests and answers of the live view.

#include "LiveHttp.h"

#include "LivePages.h"

#include <algorithm>
#include <initializer_list>

namespace live {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Whether a comma-separated header value names `token`.
bool namesToken(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        if (equalsIgnoringCase(trimmed(value.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

bool isTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
           || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

enum class Resource { HeatPage, BoardPage, MeetingPage, State, Events, None };

Resource resourceOf(std::string_view path)
{
    if (path == "/")
        return Resource::HeatPage;
    if (path == "/anzeige")
        return Resource::BoardPage;
    if (path == "/veranstaltung")
        return Resource::MeetingPage;
    if (path == "/api/state")
        return Resource::State;
    if (path == "/events")
        return Resource::Events;
    return Resource::None;
}

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

constexpr std::string_view kSecurity = "Cache-Control: no-store\r\n"
                                       "X-Content-Type-Options: nosniff\r\n"
                                       "Referrer-Policy: no-referrer\r\n";

constexpr std::string_view kPagePolicy =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'\r\n";

std::string answer(int status, std::string_view type, std::string_view body, bool head, bool keepAlive,
                   std::string_view extra = {})
{
    std::string out;
    out.reserve(256 + extra.size() + (head ? 0 : body.size()));
    out += "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += reason(status);
    out += "\r\nContent-Type: ";
    out += type;
    out += "\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\n";
    out += kSecurity;
    out += extra;
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (!head)
        out += body;
    return out;
}

std::string textAnswer(int status, std::string_view text, bool head, bool keepAlive, std::string_view extra = {})
{
    return answer(status, "text/plain; charset=utf-8", text, head, keepAlive, extra);
}

// One JSON object between `prefix` and `suffix`: the desk's clock "tick" first when given, then the
// members of each part; an empty part adds nothing.
std::string object(std::string_view prefix, const std::uint32_t *tick, std::initializer_list<const QByteArray *> parts,
                   std::string_view suffix)
{
    std::size_t size = prefix.size() + suffix.size() + 24;
    for (const QByteArray *part : parts)
        size += static_cast<std::size_t>(part->size()) + 1;
    std::string out;
    out.reserve(size);
    out += prefix;
    out += '{';
    bool empty = true;
    if (tick) {
        out += "\"tick\":";
        out += std::to_string(*tick);
        empty = false;
    }
    for (const QByteArray *part : parts) {
        if (part->isEmpty())
            continue;
        if (!empty)
            out += ',';
        out.append(part->constData(), static_cast<std::size_t>(part->size()));
        empty = false;
    }
    out += '}';
    out += suffix;
    return out;
}

} // namespace

std::uint32_t Published::tickNow() const
{
    const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - at);
    return tick + static_cast<std::uint32_t>(passed.count());
}

std::string Published::state(std::uint32_t tick) const
{
    return object({}, &tick, {&heat, &meeting}, {});
}

std::shared_ptr<const Published> Published::next(const Published *before, const QByteArray &heat,
                                                  const QByteArray &meeting, std::uint32_t tick, std::uint64_t number)
{
    const auto same = [](const QByteArray &a, const QByteArray &b) {
        return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
    };
    auto p = std::make_shared<Published>();
    p->heat = heat;
    p->meeting = meeting;
    p->tick = tick;
    p->heatVersion = before && same(before->heat, heat) ? before->heatVersion : number;
    p->meetingVersion = before && same(before->meeting, meeting) ? before->meetingVersion : number;
    return p;
}

std::size_t HeadEnd(std::string_view bytes, std::size_t from)
{
    // Lines end in CRLF; a bare LF is taken as well. The head ends with the first empty line.
    from = from > 2 ? from - 2 : 0;
    const std::size_t lf = bytes.find("\n\n", from);
    const std::size_t crlf = bytes.find("\n\r\n", from);
    if (lf == std::string_view::npos && crlf == std::string_view::npos)
        return std::string_view::npos;
    return lf < crlf ? lf + 2 : crlf + 3;
}

HeadStatus ParseRequestHead(std::string_view bytes, std::size_t maxBytes, HttpRequest &request, std::size_t &length)
{
    const std::size_t end = HeadEnd(bytes.substr(0, maxBytes), 0);
    if (end == std::string_view::npos)
        return bytes.size() >= maxBytes ? HeadStatus::TooLarge : HeadStatus::Incomplete;

    std::string_view head = bytes.substr(0, end);
    auto nextLine = [&head]() {
        const std::size_t lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        head.remove_prefix(lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    };
    std::string_view line = nextLine();

    // The request line: METHOD SP target SP HTTP/1.x
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return HeadStatus::Malformed;
    const std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    if (method.empty() || !std::all_of(method.begin(), method.end(), isTokenChar))
        return HeadStatus::Malformed;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return HeadStatus::Malformed;
    if (target.substr(0, 7) == "http://") { // absolute form: the path after the authority
        const std::size_t slash = target.find('/', 7);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    if (target.empty() || target.front() != '/')
        return HeadStatus::Malformed;
    for (const char c : target)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return HeadStatus::Malformed;
    target = target.substr(0, target.find_first_of("?#"));

    bool keepAlive = version == "HTTP/1.1";
    bool body = false;
    request.forwardedFor.clear();
    for (line = nextLine(); !line.empty(); line = nextLine()) {
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos)
            return HeadStatus::Malformed; // also a folded continuation line
        const std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), isTokenChar))
            return HeadStatus::Malformed;
        const std::string_view value = trimmed(line.substr(colon + 1));
        for (const char c : value)
            if (c == '\r' || c == '\0')
                return HeadStatus::Malformed;
        if (equalsIgnoringCase(name, "connection")) {
            if (namesToken(value, "close"))
                keepAlive = false;
            else if (namesToken(value, "keep-alive"))
                keepAlive = true;
        } else if (equalsIgnoringCase(name, "x-forwarded-for")) {
            if (!request.forwardedFor.empty())
                request.forwardedFor += ',';
            request.forwardedFor.append(value);
        } else if (equalsIgnoringCase(name, "transfer-encoding")
                   || (equalsIgnoringCase(name, "content-length") && value != "0")) {
            body = true;
        }
    }
    request.method.assign(method);
    request.path.assign(target);
    request.keepAlive = keepAlive && !body;
    length = end;
    return HeadStatus::Complete;
}

std::string RefusalAnswer()
{
    return textAnswer(503, "Zu viele Verbindungen.\n", false, false, "Retry-After: 10\r\n");
}

std::string TooLargeAnswer()
{
    return textAnswer(431, "Anfrage zu groß.\n", false, false);
}

std::string HeatEvent(const Published &state, std::uint32_t tick, bool first)
{
    return object(first ? "retry: 2000\nevent: heat\ndata: " : "event: heat\ndata: ", &tick, {&state.heat}, "\n\n");
}

std::string HeatData(const Published &state, std::uint32_t tick)
{
    return object({}, &tick, {&state.heat}, {});
}

std::string MeetingData(const Published &state)
{
    return object({}, nullptr, {&state.meeting}, {});
}

std::string MeetingEvent(const Published &state)
{
    return object("event: meeting\ndata: ", nullptr, {&state.meeting}, "\n\n");
}

std::string TickEvent(std::uint32_t tick)
{
    return "event: tick\ndata: " + std::to_string(tick) + "\n\n";
}

bool NextAnswer(std::string &in, std::size_t maxRequestBytes, const Published *state, HttpAnswer &out)
{
    HttpRequest request;
    std::size_t length = 0;
    switch (ParseRequestHead(in, maxRequestBytes, request, length)) {
    case HeadStatus::Incomplete:
        return false;
    case HeadStatus::TooLarge:
        out = {TooLargeAnswer(), true, false, {}};
        in.clear();
        return true;
    case HeadStatus::Malformed:
        out = {textAnswer(400, "Fehlerhafte Anfrage.\n", false, false), true, false, {}};
        in.clear();
        return true;
    case HeadStatus::Complete:
        break;
    }
    in.erase(0, length);
    const bool head = request.method == "HEAD";
    const bool keepAlive = request.keepAlive;
    out = HttpAnswer{};
    out.forwardedFor = std::move(request.forwardedFor);
    out.close = !keepAlive;
    if (!head && request.method != "GET") {
        out.bytes = textAnswer(405, "Nur Lesen (GET).\n", false, false, "Allow: GET, HEAD\r\n");
        out.close = true;
        in.clear();
        return true;
    }
    const Resource resource = resourceOf(request.path);
    if (resource == Resource::None) {
        out.bytes = textAnswer(404, "Nicht gefunden.\n", head, keepAlive);
        return true;
    }
    if (resource == Resource::Events) {
        // No length: the stream ends when the connection does.
        out.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n";
        out.bytes += kSecurity;
        out.bytes += "X-Accel-Buffering: no\r\nConnection: close\r\n\r\n";
        out.stream = !head;
        out.close = head;
        return true;
    }
    // The state as it is now: the desk's clock moved on since the snapshot was taken.
    const std::uint32_t tick = state ? state->tickNow() : 0;
    if (resource == Resource::State) {
        if (!state) {
            out.bytes = answer(503, "application/json", "{}", head, keepAlive);
            return true;
        }
        out.bytes = answer(200, "application/json; charset=utf-8", state->state(tick), head, keepAlive);
        return true;
    }
    const Page page = resource == Resource::BoardPage     ? Page::Board
                      : resource == Resource::MeetingPage ? Page::Meeting
                                                          : Page::Heat;
    // The page's first picture: the meeting's page needs the whole state, the heat's pages only the heat.
    const std::string first = !state                ? std::string("null")
                              : page == Page::Meeting ? state->state(tick)
                                                      : object({}, &tick, {&state->heat}, {});
    out.bytes = answer(200, "text/html; charset=utf-8", PageHtml(page, first), head, keepAlive, kPagePolicy);
    return true;
}

std::string AnswerBytes(std::string_view bytes, const Published *state, std::size_t maxRequestBytes)
{
    std::string in(bytes);
    std::string out;
    HttpAnswer a;
    while (NextAnswer(in, maxRequestBytes, state, a)) {
        out += a.bytes;
        if (a.stream && state) {
            out += HeatEvent(*state, state->tickNow(), true);
            out += MeetingEvent(*state);
        }
        if (a.close || a.stream)
            break;
    }
    return out;
}

} // namespace live
