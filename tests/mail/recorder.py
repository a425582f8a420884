#!/usr/bin/python3
"""The mail program of the compose tests: records the mailto: URI it is opened with, decoded, and
whether each attachment file exists, into $M3_RECORDER_OUT; then exits at once."""
import os
import sys
import urllib.parse


def main():
    uri = sys.argv[1] if len(sys.argv) > 1 else ""
    out = open(os.environ["M3_RECORDER_OUT"], "a")
    out.write("uri %s\n" % uri)
    rest = uri[len("mailto:"):] if uri.startswith("mailto:") else uri
    to, _, query = rest.partition("?")
    if to:
        out.write("to %s\n" % urllib.parse.unquote(to))
    for key, value in urllib.parse.parse_qsl(query, keep_blank_values=True):
        if key == "attach":
            out.write("attach %s exists=%s\n" % (value, os.path.isfile(value)))
        else:
            out.write("%s %r\n" % (key, value))
    out.close()


if __name__ == "__main__":
    main()
