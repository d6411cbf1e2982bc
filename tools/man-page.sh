#!/bin/sh
# Writes the manual page (section 1) of a program from its own --help and --version texts, so that
# the two never tell different things:
#
#   tools/man-page.sh PROGRAM [OUTPUT.1.gz]     (without OUTPUT the page goes to standard output)
#
# The --help text keeps a few rules: its first line is "Aufruf: NAME ARGUMENTS" (further forms on
# lines "  oder: NAME ARGUMENTS"), then comes the description up to the first blank line (its first
# line, without the final ".", is the page's one-line summary). After a blank line, a line
# "Heading:" at the start opens a section. "  TERM   text" (indented by two to eight blanks, two or
# more blanks between term and text) is an item, whose text goes on in the lines indented further;
# any other line at the start of a line is running text. --version prints
# "NAME VERSION (erstellt am YYYY-MM-DD)".
set -eu
program=${1:?usage: man-page.sh PROGRAM [OUTPUT.1.gz]}
if [ $# -ge 2 ]; then
    sh "$0" "$program" >"$2.page"
    gzip -9n <"$2.page" >"$2"
    rm "$2.page"
    exit
fi
version=$("$program" --version)
help=$("$program" --help)
printf '%s\n' "$help" | LC_ALL=C awk -v version="$version" '
function roff(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    return s
}
function line(s) {
    # A line of text that starts like a request is text all the same.
    if (s ~ /^[.'\'']/)
        s = "\\&" s
    print s
}
function header(   i) {
    split(version, v, " ")
    date = match(version, /[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]/) ? substr(version, RSTART, RLENGTH) : ""
    title = toupper(name)
    print "'\''\\\" -*- coding: UTF-8 -*-"
    print ".TH " roff(title) " 1 \"" date "\" \"" roff(name " " v[2]) "\" \"Benutzerbefehle\""
    print ".SH BEZEICHNUNG"
    summary = description[1]
    sub(/\.$/, "", summary)
    print roff(name) " \\- " roff(summary)
    print ".SH ÜBERSICHT"
    for (i = 1; i <= forms; ++i) {
        if (i > 1)
            print ".br"
        print ".B " roff(name)
        if (form[i] != "")
            line(roff(form[i]))
    }
    print ".SH BESCHREIBUNG"
    for (i = 1; i <= lines; ++i)
        line(roff(description[i]))
}
function synopsis(s) {
    s = substr(s, index(s, ":") + 2)
    name = s
    sub(/ .*/, "", name)
    form[++forms] = substr(s, length(name) + 2)
}
NR == 1 { synopsis($0); state = "synopsis"; next }
state == "synopsis" && /^ +oder: / { synopsis($0); next }
state == "synopsis" { state = "description" }
state == "description" && /^$/ { header(); state = "body"; blank = 1; mode = ""; next }
state == "description" { description[++lines] = $0; next }
/^$/ { blank = 1; mode = ""; next }
blank && /^[^ ].*:$/ {
    heading = $0
    sub(/:$/, "", heading)
    print ".SH " roff(toupper(heading))
    blank = 0; mode = ""
    next
}
{ blank = 0 }
/^  / && !/^         / {
    rest = $0
    sub(/^ +/, "", rest)
    gap = index(rest, "  ")
    term = gap ? substr(rest, 1, gap - 1) : rest
    text = gap ? substr(rest, gap) : ""
    sub(/^ +/, "", text)
    print ".TP"
    print "\\fB" roff(term) "\\fR"
    if (text != "")
        line(roff(text))
    mode = "item"
    next
}
/^  / { text = $0; sub(/^ +/, "", text); line(roff(text)); next }
{
    if (mode != "text")
        print ".PP"
    line(roff($0))
    mode = "text"
}
END { if (state != "body") header() }
'
