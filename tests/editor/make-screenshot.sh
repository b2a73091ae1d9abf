#!/usr/bin/env bash
# Makes docs/editor.png: a recording with a spoken sentence in each channel (a
# second voice, lower and quieter, on the right), shown in the editor frame
# offscreen. The speech is made here with espeak-ng and sox.
# Usage: tests/editor/make-screenshot.sh [build dir]   (run from the repository root)
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate=22050
espeak-ng -v ru -s 140 -w "$work/left-raw.wav" "Тембрикс показывает звук, его волну и спектр."
espeak-ng -v ru -s 120 -p 25 -w "$work/right-raw.wav" "Выделите отрезок, увеличьте его и послушайте."
# Both channels 4.4 seconds long; the right voice starts a little later
# (-V1: cutting the padded end short is intended, not worth a warning).
sox -V1 "$work/left-raw.wav" -r $rate -c 1 -b 16 "$work/left.wav" norm -3 pad 0.3 4.4 trim 0 4.4
sox -V1 "$work/right-raw.wav" -r $rate -c 1 -b 16 "$work/right.wav" norm -9 pad 0.6 4.4 trim 0 4.4
sox -M "$work/left.wav" "$work/right.wav" -b 16 "$work/recording.wav"
"$build/bin/tembrix_editor_screenshot" "$work/recording.wav" docs/editor.png
echo "docs/editor.png written"
