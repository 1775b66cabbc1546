#!/usr/bin/env bash
# Makes the sample media the tests read, with ffmpeg, into the folder given (default build/testdata).
# Each tools/testmedia/*.sh adds its files with `make NAME FFMPEG-ARGS...`; files already there are
# kept, so reruns are quick. Fragments named after the folder are read instead of tools/testmedia's
# (the fuzz seeds have their own).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-build/testdata}
shift || true
fragments=()
for f in "$@"; do fragments+=("$(cd "$(dirname "$f")" && pwd)/$(basename "$f")"); done
if [ ${#fragments[@]} -eq 0 ]; then fragments=("$here"/testmedia/*.sh); fi
mkdir -p "$out"
cd "$out"

# make NAME ARGS...: runs ffmpeg once for NAME unless it exists; written under a temporary name
# first so that an interrupted run leaves nothing half-made.
make() {
  local name=$1
  shift
  [ -s "$name" ] && return 0
  local tmp="$name.tmp.${name##*.}"
  ffmpeg -nostdin -v error -y "$@" "$tmp"
  mv "$tmp" "$name"
}

for fragment in "${fragments[@]}"; do
  [ -e "$fragment" ] || continue
  # shellcheck source=/dev/null
  source "$fragment"
done
