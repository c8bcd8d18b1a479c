#!/usr/bin/python3
"""Runs a program on a pseudo-terminal 100 columns wide and prints what it
wrote there, then "exit=<status>" on a line of its own.

Usage: pty_run.py [--interrupt-after TEXT] [--answer PROMPT LINE] PROGRAM [ARGS...]
With --interrupt-after, Ctrl-C is typed once TEXT has appeared; with
--answer, LINE and Enter once PROMPT has appeared."""
import fcntl
import os
import pty
import struct
import sys
import termios


def main():
    args = sys.argv[1:]
    interrupt_after = None
    answer = None
    while args[:1] in (["--interrupt-after"], ["--answer"]):
        if args[0] == "--interrupt-after":
            interrupt_after = args[1].encode()
            args = args[2:]
        else:
            answer = (args[1].encode(), args[2].encode() + b"\n")
            args = args[3:]
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
        os.execv(args[0], args)
    output = b""
    interrupted = False
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
        if answer and answer[0] in output:
            os.write(fd, answer[1])
            answer = None
        if interrupt_after and not interrupted and interrupt_after in output:
            os.write(fd, b"\x03")
            interrupted = True
    _, status = os.waitpid(pid, 0)
    sys.stdout.write(output.decode("utf-8", "replace"))
    sys.stdout.write("\nexit=%d\n" % os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
