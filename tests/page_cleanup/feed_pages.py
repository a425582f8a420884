#!/usr/bin/env python3
"""Feeds pages to SANE's pnm backend through a named pipe, one page per scan: a feeder.

The backend opens its file more than once a page (the header for the parameters, then the data); a
page is taken when a reader read it to its end, and is offered again when the reader closed early
(each page is far larger than a pipe's buffer, so an early close breaks the write). Ends after the
last page has been read, or after --timeout seconds without a reader.

Usage: feed_pages.py FIFO PAGE.pnm...
"""
import os
import signal
import sys
import time

signal.signal(signal.SIGPIPE, signal.SIG_IGN)


def main():
    fifo, pages = sys.argv[1], sys.argv[2:]
    deadline = time.time() + 150
    taken = 0
    while taken < len(pages) and time.time() < deadline:
        with open(pages[taken], "rb") as f:
            data = f.read()
        fd = os.open(fifo, os.O_WRONLY)  # waits for the scanner to open the file
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view):]
            taken += 1
        except BrokenPipeError:
            pass
        finally:
            os.close(fd)
    print(taken, flush=True)


if __name__ == "__main__":
    main()
