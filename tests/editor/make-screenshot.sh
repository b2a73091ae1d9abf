#!/usr/bin/env bash
# Makes docs/editor.png: a recording with two tones, a sweep and speech mixed
# into the two channels, shown in the editor frame offscreen.
# Usage: tests/editor/make-screenshot.sh [build dir]   (run from the repository root)
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate=22050
espeak-ng -v ru -s 140 -w "$work/speech-raw.wav" "Тембрикс показывает звук, его волну и спектр."
sox "$work/speech-raw.wav" -r $rate -c 1 -b 16 "$work/speech.wav" norm -3
# Left: a 440 Hz tone, then speech. Right: a 2500 Hz tone, then a rising sweep and quieter speech.
sox -n -r $rate -c 1 -b 16 "$work/tone1.wav" synth 2.5 sine 440 vol 0.5 pad 0 5
sox -n -r $rate -c 1 -b 16 "$work/tone2.wav" synth 2.5 sine 2500 vol 0.4 pad 0 5
sox -n -r $rate -c 1 -b 16 "$work/sweep.wav" synth 3.5 sine 100-10000 vol 0.4 pad 3 1
sox "$work/speech.wav" "$work/speech-late.wav" pad 3 0 trim 0 7.5
sox "$work/speech-late.wav" "$work/speech-soft.wav" vol 0.3
sox -m "$work/tone1.wav" "$work/speech-late.wav" "$work/left.wav" trim 0 7.5
sox -m "$work/tone2.wav" "$work/sweep.wav" "$work/speech-soft.wav" "$work/right.wav" trim 0 7.5
sox -M "$work/left.wav" "$work/right.wav" -b 16 "$work/recording.wav"
"$build/bin/tembrix_editor_screenshot" "$work/recording.wav" docs/editor.png
echo "docs/editor.png written"
