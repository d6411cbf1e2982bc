#!/bin/bash
# The running clock on a real X server: the desk's tests of the clock's partial repaints run under
# Xvfb, where the backing store copies one lane's changed digits to the other lanes inside the X
# server and sends only the first lane's pixels. What the screen shows must be what the labels
# draw. Once as the desk runs (plain image requests) and once with X11 shared memory.
#
#   tools/clock-x11-check.sh BUILD_DIR
#
# Needs Xvfb (installed by `make test`); without it the check is skipped with exit code 77.

set -u
BUILD=$(cd "${1:?usage: clock-x11-check.sh BUILD_DIR}" && pwd)
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is missing"; exit 77; }
FILTER='--gtest_filter=DeskPicture.ARunningClock*:DeskPicture.EveryRunningTime*'
status=0
for shm in plain shared; do
    if [ $shm = plain ]; then
        env ZK_TEST_PLATFORM=xcb QT_XCB_NO_MITSHM=1 xvfb-run -a "$BUILD/tests/test_app" "$FILTER"
    else
        env -u QT_XCB_NO_MITSHM ZK_TEST_PLATFORM=xcb xvfb-run -a "$BUILD/tests/test_app" "$FILTER"
    fi
    result=$?
    echo "clock on X11 ($shm images): $([ $result = 0 ] && echo passed || echo FAILED)"
    [ $result = 0 ] || status=1
done
exit $status
