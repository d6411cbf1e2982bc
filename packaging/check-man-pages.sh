#!/bin/bash
# The manual pages of the build as man shows them: no warning of man or groff, a summary line that
# whatis/apropos can read, and every option of the program's --help an item of the page.
#
#   packaging/check-man-pages.sh BUILD_DIR
#
# Needs man-db (the manual pages' reader, installed with lintian by `make test`); without it the
# check is skipped with exit code 77.

set -euo pipefail
BUILD=$(cd "${1:?usage: check-man-pages.sh BUILD_DIR}" && pwd)
command -v man >/dev/null && command -v lexgrog >/dev/null || { echo "SKIP: man-db is missing"; exit 77; }
status=0
for program in zielkron zielkron-signal; do
    page="$BUILD/packaging/$program.1.gz"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "FAIL: $program(1): $warnings"; status=1; }
    lexgrog "$page" | grep -q "\"$program - " || { echo "FAIL: $program(1) has no whatis line"; status=1; }
    shown=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null)
    # Every option of --help ("--name" at the start of an item) is an item of the page.
    for option in $("$BUILD/$program" --help | grep -oE '^ {2,8}(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
        grep -qE "^ {7}(-[a-z], )?$option\b" <<<"$shown" || { echo "FAIL: $program(1) lacks $option"; status=1; }
    done
done
[ $status = 0 ] && echo "manual pages: no warnings, whatis lines and every option present"
exit $status
