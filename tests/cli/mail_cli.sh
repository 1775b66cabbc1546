#!/usr/bin/env bash
# quillory-cli mail to a real SMTP server on loopback (python3 -m aiosmtpd): plain, then STARTTLS
# with a self-signed certificate made here; an MP4 file, a refused recipient, an unknown certificate,
# a refused login, a file that is not an AVI file, a bad server address; no password in any
# configuration file.
source "$(dirname "$0")/preamble.sh" "$@"
data=${QUILLORY_TEST_DATA:?}
mail_tests=$(cd "$(dirname "$0")/../mail" && pwd)
clip=$data/proj_a.avi
server=
stop_server() {
  [ -z "$server" ] || kill "$server"
  server=
}
cleanup() { stop_server; }
# start_server FOLDER [aiosmtpd options]: sets port and server (smtp_server.sh gives up after 10 s).
start_server() {
  mkdir -p "$1"
  read -r port server < <(bash "$mail_tests/smtp_server.sh" "$@") || fail "the SMTP server did not start"
}

summary() { "${QUILLORY_TEST_PYTHON:-/usr/bin/python3}" "$mail_tests/mail_summary.py" "$1" --file "$clip"; }
checksum=$(sha256sum <"$clip")

# Plain, to a server on this computer: subject, note (the file's summary) and attachment arrive.
start_server "$work/plain"
"$CLI" mail "$clip" --to jane@example.org --cc joe@example.org --from me@example.org \
  --smtp "smtp://127.0.0.1:$port" >"$work/out" 2>"$work/err"
[ ! -s "$work/err" ]
[ "$(cat "$work/out")" = sent ]
{
  printf 'Subject: You Have Clipgram\nFrom: me@example.org\nTo: jane@example.org\nCc: joe@example.org\n'
  "$CLI" describe "$clip" | sed 's/^/Note: /'
  echo 'Attachment: Cgram.avi video/x-msvideo base64 same'
} | diff - <(summary "$work/plain/1.eml")

# An MP4 made by ffmpeg goes as Cgram.mp4, video/mp4, with its own summary as the note.
mp4=$work/clip.mp4
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15:duration=1 -f lavfi -i sine=duration=1 \
  -c:v libx264 -pix_fmt yuv420p -c:a aac "$mp4"
"$CLI" mail "$mp4" --to jane@example.org --from me@example.org --smtp "smtp://127.0.0.1:$port" >"$work/out"
{
  printf 'Subject: You Have Clipgram\nFrom: me@example.org\nTo: jane@example.org\n'
  "$CLI" describe "$mp4" | sed 's/^/Note: /'
  echo 'Attachment: Cgram.mp4 video/mp4 base64 same'
} | diff - <("${QUILLORY_TEST_PYTHON:-/usr/bin/python3}" "$mail_tests/mail_summary.py" "$work/plain/2.eml" --file "$mp4")

# A refused recipient: the provider's text and the failure code, exit 1, the file untouched.
expect 1 "$CLI" mail "$clip" --to nobody@refused.invalid --from me@example.org --smtp "smtp://127.0.0.1:$port" \
  >"$work/out" 2>"$work/err"
[ ! -s "$work/out" ]
grep -q '^Mail: The mail was not sent: .*550' "$work/err"
grep -qx 'Notify: MAPISendMail failed 00000002' "$work/err"
[ ! -e "$work/plain/3.eml" ]
[ "$(sha256sum <"$clip")" = "$checksum" ]
stop_server

# STARTTLS with a certificate only the CA file vouches for. The server knows no users, so a login
# is refused; the password must not be written anywhere.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout "$work/key.pem" \
  -out "$work/cert.pem" -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
start_server "$work/tls" --tlscert "$work/cert.pem" --tlskey "$work/key.pem"
secret=pw-$RANDOM-never-in-a-file
expect 1 "$CLI" mail "$clip" --to jane@example.org --from me@example.org --smtp "smtp://127.0.0.1:$port" 2>"$work/err"
grep -q '^Mail: The mail was not sent: .*certificate' "$work/err"
QUILLORY_SMTP_PASSWORD=$secret expect 1 "$CLI" mail "$clip" --to jane@example.org --user me@example.org \
  --cacert "$work/cert.pem" --smtp "smtp://127.0.0.1:$port" 2>"$work/err"
grep -qx 'Notify: MAPISendMail failed 00000003' "$work/err"
"$CLI" mail "$clip" --to jane@example.org --from me@example.org --cacert "$work/cert.pem" --subject 'Übung' \
  --note 'See you Friday' --smtp "smtp://127.0.0.1:$port" >"$work/out"
[ "$(cat "$work/out")" = sent ]
printf 'Subject: Übung\nFrom: me@example.org\nTo: jane@example.org\nNote: See you Friday\nAttachment: Cgram.avi video/x-msvideo base64 same\n' |
  diff - <(summary "$work/tls/1.eml")
stop_server
if grep -rqsF "$secret" "${XDG_CONFIG_HOME:?}"; then fail "the password was written under $XDG_CONFIG_HOME"; fi

# Not an AVI file; a server address of another kind.
expect 1 "$CLI" mail "$data/media_pal8.bmp" --to a@b.org --from me@example.org --smtp smtp://127.0.0.1:1 2>"$work/err"
grep -qx "Notify: $data/media_pal8.bmp is not a valid AVI file" "$work/err"
expect 2 "$CLI" mail "$clip" --to a@b.org --from me@example.org --smtp http://127.0.0.1:1 2>/dev/null
echo ok
