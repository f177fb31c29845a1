#!/usr/bin/env bash
# Builds the module, installs it to ~/.lxvst and runs it in our own host:
# lists the shell's entries and renders a short demo to demo/*.wav.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" corvane_x64 corvane-host

mkdir -p "$HOME/.lxvst"
install -m 0755 "$build/corvane_x64.so" "$HOME/.lxvst/corvane_x64.so"
module="$HOME/.lxvst/corvane_x64.so"
host="$build/host/corvane-host"
echo "Installed $module"
echo
"$host" list "$module"
echo

mkdir -p demo
"$host" render "$module" --plugin "QV DC" --seconds 1 --param 0=0.5 \
  --param 6=-0.25 --out demo/dc.wav
"$host" render "$module" --plugin "QV Function" --seconds 1 --input sine:2:1 --out demo/function.wav
"$host" render "$module" --plugin "QV LFO" --seconds 2 --tempo 120 --play --out demo/lfo.wav
echo "Demo written to demo/dc.wav, demo/function.wav and demo/lfo.wav"
