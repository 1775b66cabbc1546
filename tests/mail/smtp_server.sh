#!/usr/bin/env bash
# smtp_server.sh FOLDER [aiosmtpd options]: starts python3 -m aiosmtpd on a free loopback port,
# keeping each message it accepts as FOLDER/N.eml (smtp_recorder.py); prints "PORT PID" once it
# answers. The caller stops it with kill PID.
set -euo pipefail
folder=$1
shift
py=${QUILLORY_TEST_PYTHON:-/usr/bin/python3}
port=$("$py" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
PYTHONPATH=$(cd "$(dirname "$0")" && pwd) "$py" -m aiosmtpd -n -l "127.0.0.1:$port" "$@" \
  -c smtp_recorder.Recorder "$folder" </dev/null >"$folder/server.log" 2>&1 &
for _ in $(seq 100); do
  if "$py" -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
    echo "$port $!"
    exit 0
  fi
  sleep 0.1
done
kill $!
exit 1
