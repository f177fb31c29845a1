#!/usr/bin/env bash
# Runs a test (the command line given) with an X server of its own. An X
# server's input focus and selections belong to the whole server: an editor
# takes the focus when clicked, and a test whose editor loses it to another
# test's window drops what it typed; tests that run at once must not share
# one. Without Xvfb the test runs on the display it was given.
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
  exec "$@"
fi
# Xvfb writes its display number once it accepts connections: the read
# waits for exactly that (or for its end, if it cannot start).
coproc XSERVER { exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null; }
server_pid=$XSERVER_PID
number=""
read -r -u "${XSERVER[0]}" number
stop_server() { kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; }
trap stop_server EXIT
trap 'exit 143' TERM INT
if [ -z "$number" ]; then
  echo "own-x-server.sh: Xvfb did not start; the test runs on DISPLAY=${DISPLAY:-}" >&2
else
  export DISPLAY=":$number"
fi
"$@"
