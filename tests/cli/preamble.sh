# Sourced by every *_cli.sh (`source "$(dirname "$0")/preamble.sh" "$@"`): strict mode, the program
# under test ($CLI) and the sample media ($DATA), a work folder removed on exit that the script runs
# in, and the checks the scripts share. A failing command ends the script naming its line; the checks
# below are for what `set -e` lets pass (a test before `&&`, a negated one).
# The script runs under a deadline (QUILLORY_CLI_SECONDS, 300 by default): past it, what it runs is
# stopped and the script fails saying so.
if [ -z "${QUILLORY_CLI_TIMED:-}" ]; then
  QUILLORY_CLI_TIMED=${QUILLORY_CLI_SECONDS:-300} exec timeout -k 10 "${QUILLORY_CLI_SECONDS:-300}" bash "$0" "$@"
fi
set -Eeuo pipefail
CLI=$1
DATA=${QUILLORY_TEST_DATA:-}
work=$(mktemp -d)
cd "$work"
exec 3>&2  # messages of the checks reach the log even where a command's errors go to a file
trap 'echo "${0##*/}: still running after $QUILLORY_CLI_TIMED s" >&3; exit 1' TERM

# cleanup: what a script started that must end with it (redefined by the script).
cleanup() { :; }
trap 'cleanup; rm -rf "$work"' EXIT
trap 'echo "${BASH_SOURCE[0]##*/}:$LINENO: failed: $BASH_COMMAND" >&3' ERR

# fail MESSAGE: ends the script, naming the line of the script that called the check.
fail() {
  local i=0
  while [ "${BASH_SOURCE[i + 1]:-}" = "${BASH_SOURCE[0]}" ]; do i=$((i + 1)); done
  echo "${BASH_SOURCE[i + 1]##*/}:${BASH_LINENO[i]}: $*" >&3
  exit 1
}
# expect STATUS COMMAND...: runs COMMAND (redirections apply to it) and fails unless it exits STATUS.
expect() {
  local want=$1 rc=0
  shift
  "$@" || rc=$?
  [ "$rc" = "$want" ] || fail "exit status $rc, not $want: $*"
}
# lacks PATTERN FILE: fails when a line of FILE matches PATTERN (grep's basic expressions).
lacks() {
  if grep -q -- "$1" "$2"; then fail "$2 has: $(grep -m1 -- "$1" "$2")"; fi
}
# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.05 s until it succeeds, failing after SECONDS.
wait_for() {
  local seconds=$1 what=$2 i
  shift 2
  for ((i = 0; i < seconds * 20; i++)); do
    if "$@"; then return 0; fi
    sleep 0.05
  done
  fail "$what did not happen within $seconds s"
}

# probe FILE STREAM ENTRY: one stream field as ffprobe reads it.
probe() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of default=nw=1:nk=1 "$1"; }
# packets FILE: the video packets ffprobe counts.
packets() { ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
# decodes_clean FILE: ffmpeg decodes the whole file without a word.
decodes_clean() {
  local errors
  errors=$(ffmpeg -nostdin -v error -i "$1" -f null - 2>&1)
  [ -z "$errors" ] || fail "$1 does not decode cleanly: $errors"
}
# cgp PROJECT CLIP...: a project file of these clips in this order.
cgp() {
  local out=$1
  shift
  { echo 'Corvane Project 00' && printf 'F0: %s\n' "$@"; } >"$out"
}
