#!/usr/bin/env python3
"""The far end of a serial line for the Windows serial tests: a pseudo-terminal
whose path is printed first; what arrives is sent back in upper case. A "~"
closes the line (a cable pulled out) and ends the program."""
import os
import pty
import select
import sys
import tty

master, slave = pty.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
while True:
    ready, _, _ = select.select([master], [], [], 1.0)
    if not ready:
        continue
    try:
        data = os.read(master, 4096)
    except OSError:
        continue  # no reader on the other side yet
    if b"~" in data:
        os.close(master)
        os.close(slave)
        sys.exit(0)
    os.write(master, data.upper())
