"""A minimal POP3 server for POP-before-SMTP tests (standard library only).

    pop3_server.py --port-file <file> --log <file> --user U --password P
                   [--greeting "+OK ready" | --silent] [--pid-file <file>]

Listens on 127.0.0.1 on a free port, written to --port-file once it
accepts connections (--pid-file: removed again once it has stopped).
Answers USER, PASS and QUIT (-ERR for a wrong login
or any other command) and appends every received line to --log. --silent
closes each connection without a word. SIGTERM stops it.
"""

import argparse
import os
import signal
import socketserver
import sys
import threading


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(data)
    os.replace(tmp, path)


def make_handler(args, log_lock):
    class Handler(socketserver.StreamRequestHandler):
        def reply(self, line):
            self.wfile.write((line + "\r\n").encode("utf-8"))
            self.wfile.flush()

        def handle(self):
            if args.silent:
                return
            self.reply(args.greeting)
            user = None
            for raw in self.rfile:
                line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
                with log_lock, open(args.log, "a", encoding="utf-8") as log:
                    log.write(line + "\n")
                command, _, argument = line.partition(" ")
                command = command.upper()
                if command == "USER":
                    user = argument
                    self.reply("+OK user accepted")
                elif command == "PASS":
                    if user == args.user and argument == args.password:
                        self.reply("+OK mailbox open")
                    else:
                        self.reply("-ERR [AUTH] invalid login")
                elif command == "QUIT":
                    self.reply("+OK bye")
                    return
                else:
                    self.reply("-ERR unknown command")

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--greeting", default="+OK POP3 ready")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--pid-file")
    args = parser.parse_args()

    socketserver.ThreadingTCPServer.allow_reuse_address = True
    socketserver.ThreadingTCPServer.daemon_threads = True
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), make_handler(args, threading.Lock()))
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    if args.pid_file:
        write_atomically(args.pid_file, str(os.getpid()))
    write_atomically(args.port_file, str(server.server_address[1]))
    server.serve_forever()
    server.server_close()
    # Gone pid file = stopped; the process itself may linger unreaped.
    if args.pid_file:
        os.unlink(args.pid_file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
