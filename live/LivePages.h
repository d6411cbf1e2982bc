#pragma once
// The three pages of the live results view, compiled into the program: no file is read from
// disk and no page loads anything from elsewhere, so they work in a stadium without internet.

#include <string>
#include <string_view>

namespace live {

enum class Page {
    Heat,    // "/": the current heat
    Board,   // "/anzeige": the scoreboard for a screen beside the track
    Meeting, // "/veranstaltung": every heat of the results table
};

// The page with `state` (a JSON object with the desk's clock "tick": the heat for the heat's pages,
// the whole state for the meeting's) built in as its first state, so that it shows the desk at
// once, before its event stream has connected.
std::string PageHtml(Page page, std::string_view state);

} // namespace live
