#!/bin/sh
# Runs a command on a virtual X server of its own, as xvfb-run does, with the server number the
# server chose itself (-displayfd): tests started at once never race for a number.
# Usage: xvfb_own.sh [-a] [-n N] [-s "SERVER ARGUMENTS"] COMMAND [ARGUMENT...]
# (-a and -n are xvfb-run's and are taken for its sake only.)
server_args=""
while [ $# -gt 0 ]; do
  case "$1" in
    -a) shift ;;
    -n) shift 2 ;;
    -s) server_args=$2; shift 2 ;;
    *) break ;;
  esac
done
dir=$(mktemp -d "${TMPDIR:-/tmp}/xvfb-own.XXXXXX") || exit 1
server=""
command=""
finish() {
  [ -n "$command" ] && kill "$command" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$dir"
}
trap 'finish; exit 143' TERM
trap 'finish; exit 130' INT
# No reset when the last client goes: a server that chose its own number was seen refusing
# the next client after one.
# shellcheck disable=SC2086 # the server's arguments are words
Xvfb -displayfd 3 -nolisten tcp -noreset $server_args 3>"$dir/number" >"$dir/log" 2>&1 &
server=$!
# The server writes its number and a line end once it takes clients (a minute at most).
i=0
while ! grep -q '^[0-9][0-9]*$' "$dir/number" 2>/dev/null; do
  if ! kill -0 "$server" 2>/dev/null || [ $i -ge 600 ]; then
    echo "xvfb_own.sh: the virtual X server did not start:" >&2
    cat "$dir/log" >&2
    server=""
    finish
    exit 1
  fi
  i=$((i + 1))
  sleep 0.1
done
DISPLAY=":$(cat "$dir/number")"
export DISPLAY
# The command runs in the background so that a signal to this script is taken at once.
"$@" &
command=$!
wait "$command"
status=$?
command=""
finish
exit $status
