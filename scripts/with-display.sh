#!/usr/bin/env bash
# Runs a command with a private X display (Xvfb) that ends with it.
set -euo pipefail
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3> "$fifo" 2>/dev/null &
xvfb=$!
read -r number < "$fifo"
rm -f "$fifo"
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:$number
"$@"
