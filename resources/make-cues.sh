#!/usr/bin/env bash
# Makes the six sound cues of the desk: the two German calls spoken by espeak-ng, the start,
# false-start, stop and warning signals synthesised by sox. 22.05 kHz, 16-bit mono WAV.
# Needs the Debian packages espeak-ng and sox.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fmt=(-r 22050 -c 1 -b 16)

speak() { # text, output
  espeak-ng -v de -s 130 -p 45 -a 180 -w "$tmp/raw.wav" "$1"
  sox "$tmp/raw.wav" "${fmt[@]}" "$2" norm -1 pad 0.05 0.1
}

speak "Auf die Plätze" Audio-Auf-Platz.wav
speak "Fertig" Audio-Fertig.wav

# Start: a sharp shot, a burst of noise with a fast decay.
sox -n "${fmt[@]}" "$tmp/shot.wav" synth 0.35 whitenoise fade q 0.002 0.35 0.33 \
    lowpass 3500 overdrive 20 norm -1
sox "$tmp/shot.wav" "${fmt[@]}" Audio-Start.wav

# False start: two shots in quick succession.
sox -n "${fmt[@]}" "$tmp/gap.wav" trim 0 0.12
sox "$tmp/shot.wav" "$tmp/gap.wav" "$tmp/shot.wav" "${fmt[@]}" Audio-Start-Fehl.wav

# Stop: a short high beep.
sox -n "${fmt[@]}" Audio-Stopp.wav synth 0.12 sine 1760 fade q 0.005 0.12 0.03 vol 0.7

# Warning (a port's signal lost): three falling tones, clearly apart from the stop's beep.
for f in 1320 990 740; do
  sox -n "${fmt[@]}" "$tmp/tone$f.wav" synth 0.16 sine $f fade q 0.005 0.16 0.04 vol 0.8
done
sox -n "${fmt[@]}" "$tmp/rest.wav" trim 0 0.04
sox "$tmp/tone1320.wav" "$tmp/rest.wav" "$tmp/tone990.wav" "$tmp/rest.wav" "$tmp/tone740.wav" "${fmt[@]}" Audio-Warnung.wav
