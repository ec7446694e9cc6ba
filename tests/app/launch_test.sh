#!/usr/bin/env bash
# Drives the built application under the test display as a user would: answers the source
# question, finds one main window of 921 x 610, checks that a second launch opens no second
# window, closes the window and expects a clean exit.
set -euo pipefail
app=$1
xclose=$2
: "${DISPLAY:?needs the test display}"

work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits up to 30 s for a visible window with exactly this name; prints its id.
wait_window() {
  local name=$1 id
  for _ in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

press_return() {
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  xdotool key --clearmodifiers Return
}

"$xclose" --intern
"$app" > "$work/app.log" 2>&1 &
pid=$!

question=$(wait_window "Master Type") || fail "no source question"
press_return "$question"

# Without a sound card the application warns once and goes on silent.
if warning=$(wait_window "Warning!"); then
  press_return "$warning"
fi

main=$(wait_window "Brantwick Corvane App") || fail "no main window"
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$WIDTH" = 921 ] && [ "$HEIGHT" = 610 ] || fail "main window is ${WIDTH}x${HEIGHT}, not 921x610"
count=$(xdotool search --onlyvisible --name '^Brantwick Corvane App$' | wc -l)
[ "$count" = 1 ] || fail "$count main windows"

# A second launch hands over to the running instance and ends without a window of its own.
timeout 30 "$app" > "$work/second.log" 2>&1 || fail "second launch did not end by itself"
sleep 1
count=$(xdotool search --onlyvisible --name '^Brantwick Corvane App$' | wc -l)
[ "$count" = 1 ] || fail "$count main windows after a second launch"
xdotool search --onlyvisible --name '^Master Type$' >/dev/null 2>&1 && fail "second launch asked the source question"

"$xclose" "$main"
for _ in $(seq 1 200); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
kill -0 $pid 2>/dev/null && fail "application still running after its window was closed"
wait $pid || fail "application exited with status $?"

grep -q 'name="lastMainWindowPos" val="[-0-9]* [-0-9]* 921 610"' \
  "$XDG_CONFIG_HOME/Brantwick_Corvane_App/Brantwick_Corvane_App.settings" \
  || fail "window position not saved"
echo "PASS"
