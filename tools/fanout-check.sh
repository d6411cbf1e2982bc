#!/bin/bash
# The live view's fan-out for the stands against the real thing: Debian's nginx with its nchan
# module, the site configuration the package ships, the desk publishing to it and 50 event-stream
# clients (build/tests/test_fanout_nginx).
#
#   tools/fanout-check.sh BUILD_DIR
#
# nginx and libnginx-mod-nchan are installed when missing, as root or through sudo; where that is
# impossible the check is skipped with exit code 77. Installing them starts no nginx of the system
# here: the check runs its own, as a child process on loopback, in a folder of its own.

set -u
BUILD=$(cd "${1:?usage: fanout-check.sh BUILD_DIR}" && pwd)
SKIP=77

present() { [ -x /usr/sbin/nginx ] && [ -e /usr/lib/nginx/modules/ngx_nchan_module.so ]; }

if ! present; then
    if [ "$(id -u)" = 0 ]; then SUDO=""; elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then SUDO="sudo -n"; else SUDO=none; fi
    if [ "$SUDO" = none ]; then
        echo "SKIP: nginx and libnginx-mod-nchan are not installed and cannot be installed here (no root, no sudo)"
        exit $SKIP
    fi
    echo "nginx with nchan is missing: installing Debian's nginx and libnginx-mod-nchan for this check"
    if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq nginx libnginx-mod-nchan >/dev/null 2>&1; then
        $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null 2>&1
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq nginx libnginx-mod-nchan >/dev/null 2>&1
    fi
    present || { echo "SKIP: nginx and libnginx-mod-nchan could not be installed (no package source reachable?)"; exit $SKIP; }
fi

exec env QT_QPA_PLATFORM=offscreen "$BUILD/tests/test_fanout_nginx"
