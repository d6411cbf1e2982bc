#!/bin/sh
# Renders the desk's icon (zielkron.svg) in the sizes of a desktop's icon theme into icons/, for the
# package and the program's window. Needs rsvg-convert (Debian package librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" zielkron.svg -o "icons/zielkron-$size.png"
done
