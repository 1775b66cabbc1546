"""Prints what a test needs to know of a received message, one line each: its Subject, To and
Cc, the note text's lines ("Note: ..."), and per attachment its file name, type, transfer
encoding and whether its bytes equal the file given with --file."""
import email
import email.policy
import sys


def main():
    message_path = sys.argv[1]
    compare = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--file" else None
    with open(message_path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    for header in ("Subject", "From", "To", "Cc"):
        if msg[header] is not None:
            print("%s: %s" % (header, msg[header]))
    for part in msg.walk():
        if part.is_multipart():
            continue
        name = part.get_filename()
        if name is None and part.get_content_type() == "text/plain":
            for line in part.get_content().splitlines():
                print("Note: " + line)
        elif name is not None:
            data = part.get_payload(decode=True)
            same = "unchecked"
            if compare:
                with open(compare, "rb") as f:
                    same = "same" if f.read() == data else "different"
            print("Attachment: %s %s %s %s" % (name, part.get_content_type(),
                                              part["Content-Transfer-Encoding"], same))


main()
