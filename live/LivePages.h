#pragma once
// The three pages of the live results view, compiled into the program: no file is read from
// disk and no page loads anything from elsewhere, so they work in a stadium without internet.

#include <QByteArray>

#include <string>

namespace live {

enum class Page {
    Heat,    // "/": the current heat
    Board,   // "/anzeige": the scoreboard for a screen beside the track
    Meeting, // "/veranstaltung": every heat of the results table
};

// The page with `state` (a snapshot's JSON object, tick included) built in as its first state,
// so that it shows the desk at once, before its event stream has connected.
std::string PageHtml(Page page, const QByteArray &state);

} // namespace live
