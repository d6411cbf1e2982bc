#pragma once
// The topics of the desk's manual: the anchor of its contents page and the anchors that the help
// requests for a keyword or a help context number lead to.

#include <QString>

#include <vector>

namespace help {

// Anchor of the manual's contents page.
inline constexpr char ContentsAnchor[] = "inhalt";

struct Topic {
    int context;         // help context number
    const char *keyword; // keyword of the index
    const char *anchor;  // anchor in the manual
};

// Every topic a help request can reach, in the order of the manual.
const std::vector<Topic> &topics();

// The anchor for a keyword: the topic whose keyword equals it (ignoring case), else the first
// whose keyword begins with it, else the contents page.
QString anchorForKeyword(const QString &keyword);
// The anchor for a help context number; an unknown number leads to the contents page.
QString anchorForContext(int context);

} // namespace help
