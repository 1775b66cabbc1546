#!/usr/bin/env bash
# Makes the sample media the tests read, with ffmpeg, into the folder given (default build/testdata).
# Files already there are kept, so reruns are quick.
set -euo pipefail
out=${1:-build/testdata}
mkdir -p "$out"
cd "$out"

# make NAME ARGS...: runs ffmpeg once for NAME unless it exists.
make() {
  local name=$1
  shift
  [ -s "$name" ] && return 0
  ffmpeg -nostdin -v error -y "$@" "$name.tmp.${name##*.}"
  mv "$name.tmp.${name##*.}" "$name"
}

# Sample files are added here by the tests that need them.
true
