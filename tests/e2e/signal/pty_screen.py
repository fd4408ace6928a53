"""Runs a program on a pseudo-terminal of COLS x ROWS and, once it has
ended, prints its exit status, how often it moved the cursor up (a redraw
in place), the colours of the characters on the screen, and the screen's
lines as the terminal shows them (trailing blanks and blank lines at the
end left out).

usage: pty_screen.py COLS ROWS PROGRAM ARGS..."""
import fcntl
import os
import re
import struct
import subprocess
import sys
import termios

import pyte

cols, rows = int(sys.argv[1]), int(sys.argv[2])
master, slave = os.openpty()
fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
child = subprocess.Popen(sys.argv[3:], stdin=slave, stdout=slave, stderr=slave, close_fds=True)
os.close(slave)
output = b""
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:  # EIO: every holder of the terminal's other side has closed it
        break
    if not chunk:
        break
    output += chunk
status = child.wait()
screen = pyte.Screen(cols, rows)
pyte.ByteStream(screen).feed(output)
colours = {screen.buffer[y][x].fg for y in range(rows) for x in range(cols) if screen.buffer[y][x].data != " "}
lines = [line.rstrip() for line in screen.display]
while lines and not lines[-1]:
    lines.pop()
print("status", status)
print("redraws", len(re.findall(rb"\x1b\[\d+A", output)))
print("colours", ",".join(sorted(colours)))
print("non-ascii", any(b >= 0x80 for b in output))
for line in lines:
    print(line)
