#pragma once
// HTTP as the live view speaks it: the head of a request read from the bytes a client sent, and
// the answer to it. No socket is involved here: the server feeds in what arrives and writes out
// what comes back, and tests and fuzzers drive the very same functions with bytes of their own.

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace live {

// One snapshot as the desk handed it over, in its two parts: the heat on the desk, small and
// changing with every stop, and the meeting, large and changing only when a heat is entered or the
// results table is edited. Immutable once published.
struct Published {
    QByteArray heat;        // the heat's JSON members, without braces and without "tick"
    QByteArray meeting;     // the meeting's JSON members ("meeting", "heats", "rankings")
    std::uint32_t tick = 0; // the desk's tick counter when it was taken
    std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now();
    // The publication at which each part last changed; counted by the publisher from 1, so that the
    // part changed earlier has the smaller number and 0 means "never sent".
    std::uint64_t heatVersion = 0;
    std::uint64_t meetingVersion = 0;

    // The desk's tick counter now, from the tick at publishing and the time passed since.
    std::uint32_t tickNow() const;
    // The whole state as one JSON object with the desk's clock `tick` in front (as /api/state gives it).
    std::string state(std::uint32_t tick) const;

    // The snapshot that follows `before` (nullptr: none yet) as publication number `number`: a part
    // equal to the one before keeps its version, so that nobody sends it again. A part handed over
    // as the very same shared bytes costs no comparison.
    static std::shared_ptr<const Published> next(const Published *before, const QByteArray &heat,
                                                 const QByteArray &meeting, std::uint32_t tick, std::uint64_t number);
};

struct HttpRequest {
    std::string method;
    std::string path;      // the target without query and fragment
    bool keepAlive = true; // the connection may carry another request after this one
    std::string forwardedFor; // the X-Forwarded-For fields, joined with commas in their order
};

enum class HeadStatus {
    Incomplete, // the empty line that ends the head has not arrived yet
    Complete,
    Malformed,
    TooLarge, // the head is longer than allowed, complete or not
};

// Where the head at the start of `bytes` ends (just after its empty line), npos while it has not
// arrived; `from`: the bytes before it were looked at already.
std::size_t HeadEnd(std::string_view bytes, std::size_t from);

// Reads the head of the request at the start of `bytes` (request line and header fields up to the
// empty line). Complete: `request` is filled and `length` is the size of the head. A request
// announcing a body is answered and its connection closed, as the live view reads no bodies.
HeadStatus ParseRequestHead(std::string_view bytes, std::size_t maxBytes, HttpRequest &request, std::size_t &length);

struct HttpAnswer {
    std::string bytes;   // status line, header fields and, unless the request was HEAD, the body
    bool close = false;  // the connection ends once this is written
    bool stream = false; // an event stream: the head only; the events follow as the desk changes
    std::string forwardedFor; // the request's X-Forwarded-For (for connections of a trusted proxy)
};

// The answer to the request at the start of `in`, against `state` (nullptr before the desk's
// first snapshot). False while the head is incomplete; else the head is taken off `in`.
// Whatever the request asks (Range, conditions, encodings), an answer is never larger than the
// page it names.
bool NextAnswer(std::string &in, std::size_t maxRequestBytes, const Published *state, HttpAnswer &answer);

// The answer that turns a connection away when too many are open.
std::string RefusalAnswer();
// The answer to a request head longer than allowed; the connection closes after it.
std::string TooLargeAnswer();

// The events of the stream. "heat": the heat on the desk with the desk's clock `tick` ("retry" set
// when `first`); "meeting": the meeting's heats and rankings, sent only when they change; "tick":
// only the desk's clock, sent while nothing changes.
std::string HeatEvent(const Published &state, std::uint32_t tick, bool first);
// The data of those events alone (one JSON object each), as a fan-out is handed them.
std::string HeatData(const Published &state, std::uint32_t tick);
std::string MeetingData(const Published &state);
std::string MeetingEvent(const Published &state);
std::string TickEvent(std::uint32_t tick);

// Everything a fresh connection is sent for `bytes`: each complete request in turn until one
// closes the connection; an event stream's head is followed by its first events (the heat, then
// the meeting) and ends it.
// For tests and fuzzing; the server runs the same steps on its connections.
std::string AnswerBytes(std::string_view bytes, const Published *state, std::size_t maxRequestBytes = 16384);

} // namespace live
