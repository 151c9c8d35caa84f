#!/usr/bin/env python3
"""The far end of a COM port for the Windows tests under Wine.

Makes a Linux pseudo-terminal, maps it into the Wine prefix as COM<n>
($WINEPREFIX/dosdevices/com<n> -> /dev/pts/N), runs the test program under Wine and plays
the line's far end meanwhile:

  - every byte received is appended to a log file (the test reads it to see what arrived);
  - bytes are echoed back as they came, except commands, which start with "#!" and end
    with a line break:
      "#!line\\n"     answers "speed=<baud> bits=<5..8> parity=<N|O|E> stop=<1|2>\\n", the line
                     settings the Windows side last set, as Linux sees them;
      "#!send <n>\\n" sends n bytes of the pattern i % 251;
      "#!later <ms> <n>\\n" sends them after ms milliseconds.

The program's output goes to a file, never to a pipe: Wine's server keeps pipes it inherits
open, and a reader waiting for their end would wait for the server. The file is copied to
this script's output afterwards.

usage: com_peer.py --run RUN --prefix PREFIX --com N -- PROGRAM [ARGUMENTS...]
"""
import argparse
import os
import select
import subprocess
import sys
import termios
import threading
import tty

SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}


def line_settings(fd):
    attrs = termios.tcgetattr(fd)
    cflag, speed = attrs[2], attrs[5]
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N"
    if cflag & termios.PARENB:
        parity = "O" if cflag & termios.PARODD else "E"
    stop = 2 if cflag & termios.CSTOPB else 1
    return f"speed={SPEEDS.get(speed, 0)} bits={bits} parity={parity} stop={stop}\n".encode()


def pattern(n):
    return bytes(i % 251 for i in range(n))


class Peer:
    def __init__(self, master, slave, log_path):
        self.master = master
        self.slave = slave
        self.log = open(log_path, "wb")
        self.pending = b""
        self.stop = threading.Event()

    def send(self, data):
        view = memoryview(data)
        while view:
            _, ready, _ = select.select([], [self.master], [], 1.0)
            if ready:
                view = view[os.write(self.master, view):]

    def handle(self, data):
        self.log.write(data)
        self.log.flush()
        self.pending += data
        while self.pending:
            at = self.pending.find(b"#!")
            if at != 0:
                plain = self.pending if at < 0 else self.pending[:at]
                # A lone '#' at the end may begin a command: keep it for the next read.
                if at < 0 and plain.endswith(b"#"):
                    plain = plain[:-1]
                if not plain:
                    return
                self.send(plain)
                self.pending = self.pending[len(plain):]
                continue
            end = self.pending.find(b"\n")
            if end < 0:
                return
            command = self.pending[2:end].decode(errors="replace").split()
            self.pending = self.pending[end + 1:]
            if command == ["line"]:
                self.send(line_settings(self.slave))
            elif len(command) == 2 and command[0] == "send":
                self.send(pattern(int(command[1])))
            elif len(command) == 3 and command[0] == "later":
                threading.Timer(int(command[1]) / 1000, self.send,
                                [pattern(int(command[2]))]).start()

    def serve(self):
        while not self.stop.is_set():
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if not ready:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                continue
            if data:
                self.handle(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--com", type=int, required=True)
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = [a for a in args.program if a != "--"]

    master, slave = os.openpty()
    tty.setraw(slave)
    # The slave stays open here too, so the line never hangs up between two opens of the port.
    slave_path = os.ttyname(slave)
    dosdevices = os.path.join(args.prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    link = os.path.join(dosdevices, f"com{args.com}")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(slave_path, link)

    base = f"{args.prefix}.com{args.com}"
    log_path, out_path = base + ".received", base + ".out"
    peer = Peer(master, slave, log_path)
    server = threading.Thread(target=peer.serve, daemon=True)
    server.start()

    env = dict(os.environ)
    env["ORVANE_PEER_COM"] = str(args.com)
    env["ORVANE_PEER_LOG"] = "Z:" + log_path.replace("/", "\\")
    with open(out_path, "wb") as out:
        rc = subprocess.call([args.run, args.prefix] + program, stdin=subprocess.DEVNULL,
                             stdout=out, stderr=subprocess.STDOUT, env=env)
    peer.stop.set()
    server.join(2)
    os.remove(link)
    with open(out_path, "rb") as out:
        sys.stdout.write(out.read().decode(errors="replace"))
    print(f"com_peer: COM{args.com} was {slave_path}; the program ended with {rc}")
    return rc


if __name__ == "__main__":
    sys.exit(main())
