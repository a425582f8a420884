#!/usr/bin/python3
"""Reads one delivered message with Python's email package and prints what the tests check.

inspect_message.py MESSAGE [SOURCE...]: the decoded headers, the body, and per attachment its decoded
file name, its size and whether its bytes equal SOURCE number i.
"""
import email
import email.policy
import email.utils
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    sources = sys.argv[2:]
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    for name in ("From", "To", "Cc", "Subject", "Importance"):
        values = msg.get_all(name)
        if values:
            for value in values:
                print("%s: %s" % (name, str(value)))
    print("Headers: %s" % ",".join(sorted(set(k.lower() for k in msg.keys()))))
    print("Date-parses: %s" % ("yes" if email.utils.parsedate_to_datetime(msg["Date"]) else "no"))
    mid = msg["Message-ID"] or ""
    print("Message-ID-form: %s" % ("yes" if mid.startswith("<") and mid.endswith(">") and "@" in mid else "no"))
    longest = max(len(line.rstrip(b"\r")) for line in raw.split(b"\n"))
    print("Longest-line: %s" % ("ok" if longest <= 998 else str(longest)))
    body = msg.get_body(preferencelist=("plain",))
    text = body.get_content() if body is not None else ""
    print("Body: %r" % text.replace("\r\n", "\n"))
    index = 0
    for part in msg.iter_attachments():
        data = part.get_payload(decode=True)
        same = "-"
        if index < len(sources):
            with open(sources[index], "rb") as f:
                same = "same" if f.read() == data else "differs"
        print("Attachment: %r %d %s" % (part.get_filename(), len(data), same))
        index += 1


if __name__ == "__main__":
    main()
