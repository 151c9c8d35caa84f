#!/usr/bin/env python3
"""The updater on real serial drivers: a QEMU guest whose /dev/ttyUSB* are QEMU's emulated
FT232 adapters, driven by the guest kernel's own usbserial and ftdi_sio, and whose /dev/ttyS1 is
an emulated 16550 driven by the 8250 driver. The far end of every line is orvane-bootsim on
this machine, behind a pseudo-terminal that QEMU opens as a serial device: QEMU applies every
speed the guest's driver sets to that pseudo-terminal, so the simulated receiver checks each
frame against the speed really set on the wire.

One guest boot runs the whole table of cases. The guest's kernel and udev come from Debian
packages unpacked into the work folder; busybox, the kernel modules, udev and the updater (with
the libraries it links) make one initramfs. Host and guest talk through a 9p share: the host
drops numbered shell scripts into share/cmd, the guest runs each in the background and leaves
its output and exit code in share/out. Adapters are plugged and pulled through QEMU's monitor.

Usage: run.py --cli PATH --bootsim PATH [--work DIR] [-k WORD]
Prints one line per case and "N passed, N failed" at the end; exits 1 when a case failed.
"""

import argparse
import json
import lzma
import os
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import time
from pathlib import Path

# The guest's view of the programs and the share.
GUEST_CLI = "/orvane/orvane-update-cli"
SHARE = "/share"
CONSOLE_TTY = "ttyS0"

# Modules the guest needs; what they depend on is found in each module's own depends= list.
ROOT_MODULES = ["xhci_pci", "ftdi_sio", "virtio_pci", "9pnet_virtio", "9p"]
UDEV_RULES = ["50-udev-default.rules", "60-serial.rules"]


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------
# The guest image


def sh(args, **kw):
    return subprocess.run(args, check=True, text=True, capture_output=True, **kw).stdout


def fetch_packages(work):
    """Downloads and unpacks the guest's kernel and udev, kept while the archive's kernel stays
    the same. Returns (kernel release, unpacked root)."""
    # The kernel the meta-package names now: the newest one the archive has.
    deps = sh(["apt-cache", "depends", "linux-image-amd64"])
    image = next(m.group(1) for m in re.finditer(r"Depends: (linux-image-\S+)", deps))
    release = image[len("linux-image-"):]
    root = work / "guest-root"
    stamp = root / ".unpacked"
    if stamp.exists() and stamp.read_text().strip() == release:
        return release, root
    debs = work / "debs"
    shutil.rmtree(debs, ignore_errors=True)
    debs.mkdir(parents=True)
    # As root apt fetches as its own user, who may not write here: told to stay root instead.
    subprocess.run(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", image, "udev"],
                   cwd=debs, check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(root, ignore_errors=True)
    root.mkdir(parents=True)
    for deb in sorted(debs.glob("*.deb")):
        subprocess.run(["dpkg-deb", "-x", str(deb), str(root)], check=True)
    stamp.write_text(release + "\n")
    shutil.rmtree(debs)
    return release, root


def extract_vmlinux(root, release, work):
    """The uncompressed kernel from the bzImage: booted directly (PVH) it starts in about half
    the time under TCG, as nothing has to decompress it in emulated code."""
    out = work / f"vmlinux-{release}"
    if out.exists():
        return out
    data = (root / "boot" / f"vmlinuz-{release}").read_bytes()
    at = data.find(b"\xfd7zXZ\x00")  # Debian's kernels are compressed with xz
    elf = lzma.LZMADecompressor().decompress(data[at:]) if at >= 0 else b""
    if elf[:4] != b"\x7fELF":
        raise RuntimeError("no xz-compressed kernel found in the bzImage")
    out.write_bytes(elf)
    return out


def modinfo(path):
    """The key=value strings of a module's .modinfo section."""
    data = path.read_bytes()
    shoff = struct.unpack_from("<Q", data, 0x28)[0]
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)

    def section(i):
        base = shoff + i * shentsize
        name, = struct.unpack_from("<I", data, base)
        offset, size = struct.unpack_from("<QQ", data, base + 0x18)
        return name, offset, size

    _, stroff, _ = section(shstrndx)
    for i in range(shnum):
        name, offset, size = section(i)
        end = data.index(b"\0", stroff + name)
        if data[stroff + name:end] == b".modinfo":
            return [s.decode() for s in data[offset:offset + size].split(b"\0") if s]
    return []


def module_order(root, release):
    """The module files to load, each after the ones it depends on."""
    files = {}
    for ko in (root / "lib" / "modules" / release / "kernel").rglob("*.ko"):
        files[ko.stem.replace("-", "_")] = ko
    order, seen = [], set()

    def visit(name):
        name = name.replace("-", "_")
        if name in seen:
            return
        seen.add(name)
        ko = files[name]
        for entry in modinfo(ko):
            if entry.startswith("depends="):
                for dep in filter(None, entry[len("depends="):].split(",")):
                    visit(dep)
        order.append(ko)

    for name in ROOT_MODULES:
        visit(name)
    return order


def linked_libraries(binary):
    """The libraries the dynamic loader finds for a program, loader included."""
    out = sh(["ldd", str(binary)])
    libs = []
    for line in out.splitlines():
        if "not found" in line:
            raise RuntimeError(f"{binary}: {line.strip()}")
        m = re.search(r"(/\S+) \(0x", line)
        if m:
            libs.append(m.group(1))
    return libs


class Cpio:
    """An uncompressed initramfs in the kernel's "newc" cpio format."""

    def __init__(self):
        self.parts = []
        self.inode = 1
        self.dirs = set()

    def _entry(self, name, mode, data=b""):
        name_bytes = name.encode() + b"\0"
        header = "070701" + "".join(f"{v:08X}" for v in (
            self.inode, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name_bytes), 0))
        self.inode += 1
        blob = header.encode() + name_bytes
        blob += b"\0" * (-len(blob) % 4)
        blob += data + b"\0" * (-len(data) % 4)
        self.parts.append(blob)

    def dir(self, path):
        path = path.strip("/")
        if not path or path in self.dirs:
            return
        self.dir(os.path.dirname(path))
        self.dirs.add(path)
        self._entry(path, stat.S_IFDIR | 0o755)

    def file(self, path, data, mode=0o755):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        self._entry(path, stat.S_IFREG | mode, data)

    def symlink(self, path, target):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        self._entry(path, stat.S_IFLNK | 0o777, target.encode())

    def write(self, out):
        self._entry("TRAILER!!!", 0)
        with open(out, "wb") as f:
            for p in self.parts:
                f.write(p)


GUEST_INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin:/sbin HOME=/root LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
mkdir -p /proc /sys /dev /run /tmp /root /share
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /run
for m in $(cat /modules/order); do insmod /modules/$m || echo "insmod $m failed"; done
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /share || poweroff -f
/lib/systemd/systemd-udevd --daemon --resolve-names=never
udevadm trigger --action=add --type=subsystems
udevadm trigger --action=add --type=devices
udevadm settle -t 20
echo ready > /share/ready
cd /tmp
n=1
while :; do
  if [ -e /share/cmd/$n.sh ]; then
    ( sh /share/cmd/$n.sh > /share/out/$n.log 2>&1; echo $? > /share/out/$n.tmp
      mv /share/out/$n.tmp /share/out/$n.rc ) &
    n=$((n + 1))
  else
    usleep 30000
  fi
done
"""


def build_initramfs(work, root, release, cli):
    cpio = Cpio()
    cpio.file("init", GUEST_INIT.encode())
    cpio.file("bin/busybox", Path("/bin/busybox").read_bytes())
    names = []
    for ko in module_order(root, release):
        cpio.file(f"modules/{ko.name}", ko.read_bytes(), 0o644)
        names.append(ko.name)
    cpio.file("modules/order", ("\n".join(names) + "\n").encode(), 0o644)
    udevadm = root / "bin" / "udevadm"
    cpio.file("bin/udevadm", udevadm.read_bytes())
    cpio.symlink("lib/systemd/systemd-udevd", "/bin/udevadm")
    for rule in UDEV_RULES:
        cpio.file(f"lib/udev/rules.d/{rule}", (root / "lib/udev/rules.d" / rule).read_bytes(),
                  0o644)
    cpio.file("etc/group", b"root:x:0:\ntty:x:5:\ndialout:x:20:\nkmem:x:15:\n", 0o644)
    cpio.file("etc/passwd", b"root:x:0:0:root:/root:/bin/sh\n", 0o644)
    cpio.file(GUEST_CLI, Path(cli).read_bytes())
    libs = set()
    for binary in (udevadm, cli):
        libs.update(linked_libraries(binary))
    for lib in sorted(libs):
        cpio.file(lib, Path(os.path.realpath(lib)).read_bytes())
    out = work / "initramfs.cpio"
    cpio.write(out)
    return out


# ---------------------------------------------------------------------------------------------
# The machine


class Monitor:
    """QEMU's human monitor on a Unix socket: one command, its answer up to the next prompt."""

    def __init__(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(str(path))
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.sock.settimeout(timeout)
        self._read_prompt()

    def _read_prompt(self):
        buf = b""
        while not buf.endswith(b"(qemu) "):
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("the monitor closed")
            buf += chunk
        return buf.decode(errors="replace")

    def command(self, text):
        self.sock.sendall(text.encode() + b"\n")
        answer = self._read_prompt()
        # The monitor echoes the command (with terminal escapes) before its answer.
        answer = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", answer)
        lines = answer.replace("\r", "").split("\n")[1:-1]
        return "\n".join(lines).strip()


class Guest:
    """One QEMU machine and the command channel into it."""

    def __init__(self, work, kernel, initrd, uart_path):
        self.work = work
        self.share = work / "share"
        shutil.rmtree(self.share, ignore_errors=True)
        (self.share / "cmd").mkdir(parents=True)
        (self.share / "out").mkdir()
        self.next = 1
        self.monitor_path = work / "monitor.sock"
        if self.monitor_path.exists():
            self.monitor_path.unlink()
        self.console = work / "console.log"
        args = [
            "qemu-system-x86_64", "-machine", "pc,accel=tcg", "-cpu", "max", "-smp", "1",
            "-m", "768", "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
            "-kernel", str(kernel), "-initrd", str(initrd),
            "-append", f"console={CONSOLE_TTY} panic=-1 quiet loglevel=4 8250.nr_uarts=4",
            "-serial", f"file:{self.console}",
            "-chardev", f"serial,id=uart1,path={uart_path}",
            "-device", "isa-serial,chardev=uart1,index=1",
            "-device", "qemu-xhci,id=xhci",
            "-virtfs", f"local,path={self.share},mount_tag=share,security_model=none",
            "-monitor", f"unix:{self.monitor_path},server=on,wait=off",
        ]
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                     stdout=open(work / "qemu.log", "w"),
                                     stderr=subprocess.STDOUT)
        self.monitor = Monitor(self.monitor_path)

    def wait_ready(self, timeout=120):
        deadline = time.monotonic() + timeout
        while not (self.share / "ready").exists():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the guest did not start; see " + str(self.console))
            time.sleep(0.1)

    def start(self, script):
        n = self.next
        self.next += 1
        tmp = self.share / "cmd" / f".{n}.tmp"
        tmp.write_text(script + "\n")
        tmp.rename(self.share / "cmd" / f"{n}.sh")
        return Job(self, n)

    def run(self, script, timeout=60):
        job = self.start(script)
        rc = job.wait(timeout)
        return rc, job.output()

    def hmp(self, text):
        return self.monitor.command(text)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.hmp("quit")
            except (OSError, RuntimeError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Job:
    def __init__(self, guest, n):
        self.guest, self.n = guest, n
        self.rc_path = guest.share / "out" / f"{n}.rc"
        self.log_path = guest.share / "out" / f"{n}.log"

    def done(self):
        return self.rc_path.exists()

    def wait(self, timeout):
        deadline = time.monotonic() + timeout
        while not self.rc_path.exists():
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)
        return int(self.rc_path.read_text().strip() or "-1")

    def output(self):
        try:
            return self.log_path.read_text(errors="replace")
        except FileNotFoundError:
            return ""


class Receiver:
    """orvane-bootsim on this machine, behind a link to its pseudo-terminal."""

    def __init__(self, h, name, *options):
        self.name = name
        self.link = h.work / "lines" / name
        self.link.parent.mkdir(exist_ok=True)
        self.report_path = h.work / "lines" / f"{name}.json"
        for p in (self.link, self.report_path):
            if p.is_symlink() or p.exists():
                p.unlink()
        self.proc = subprocess.Popen(
            [h.bootsim, "--link", str(self.link), "--report", str(self.report_path), *options],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        first = self.proc.stdout.readline()
        if not first.startswith("port: "):
            raise RuntimeError(f"orvane-bootsim did not start: {first}")
        self.report = None

    def stop(self):
        """Stops the receiver and returns its report."""
        if self.report is None:
            if self.proc.poll() is None:
                self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(10)
            self.report = json.loads(self.report_path.read_text())
        return self.report


# ---------------------------------------------------------------------------------------------
# Cases


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


class Harness:
    def __init__(self, work, cli, bootsim):
        self.work, self.cli, self.bootsim = work, cli, bootsim
        self.guest = None
        self.uart = None  # the receiver at the far end of the guest's /dev/ttyS1
        self.receivers = []
        self.adapters = {}  # QEMU device id -> (chardev id, serial number)
        self.chardevs = 0

    # Adapters ------------------------------------------------------------------------------

    def receiver(self, name, *options):
        r = Receiver(self, name, *options)
        self.receivers.append(r)
        return r

    def plug(self, dev, serial, receiver, wait_for=None):
        """Plugs an FT232 whose far end is the receiver; waits until udev made wait_for."""
        self.chardevs += 1
        chardev = f"c{self.chardevs}"
        answer = self.guest.hmp(f"chardev-add serial,id={chardev},path={receiver.link}")
        expect("Error" not in answer, f"chardev-add: {answer}")
        self.replug(dev, chardev, serial)
        self.adapters[dev] = (chardev, serial)
        if wait_for:
            self.wait_guest_path(wait_for, present=True)

    def replug(self, dev, chardev, serial):
        answer = self.guest.hmp(
            f"device_add usb-serial,chardev={chardev},id={dev},bus=xhci.0,serial={serial}")
        expect("Error" not in answer, f"device_add: {answer}")

    def pull(self, dev, gone=None):
        """Pulls an adapter out (the chardev stays for plugging it back)."""
        self.guest.hmp(f"device_del {dev}")
        if gone:
            self.wait_guest_path(gone, present=False)
        # The device is gone from QEMU once its id can be used again.
        deadline = time.monotonic() + 10
        while dev in self.guest.hmp("info usb") and time.monotonic() < deadline:
            time.sleep(0.05)

    def plug_back(self, dev, wait_for=None):
        chardev, serial = self.adapters[dev]
        self.replug(dev, chardev, serial)
        if wait_for:
            self.wait_guest_path(wait_for, present=True)

    def discard(self, dev):
        """Pulls the adapter for good and drops its chardev."""
        chardev, _ = self.adapters.pop(dev)
        if dev in self.guest.hmp("info usb"):
            self.pull(dev)
        self.guest.run("udevadm settle -t 10", 15)
        deadline = time.monotonic() + 10
        while "Error" in self.guest.hmp(f"chardev-remove {chardev}"):
            expect(time.monotonic() < deadline, f"chardev {chardev} still in use")
            time.sleep(0.1)

    def discard_all(self):
        for dev in list(self.adapters):
            self.discard(dev)

    def wait_guest_path(self, path, present, timeout=20):
        cond = f"[ -e {path} ]" if present else f"[ ! -e {path} ]"
        script = (f"i=0; until {cond}; do i=$((i+1)); [ $i -gt {timeout * 20} ] && exit 1; "
                  f"usleep 50000; done; udevadm settle -t 10")
        rc, out = self.guest.run(script, timeout + 15)
        expect(rc == 0, f"{path} {'did not appear' if present else 'did not go'} in the guest")

    # Guest side ------------------------------------------------------------------------------

    def updater(self, *args, trace=None, result=None):
        """The command line of an update in the guest, its output on standard output."""
        words = [GUEST_CLI, "--no-progress", *args]
        if trace:
            words += ["--trace", f"{SHARE}/out/{trace}"]
        if result:
            words += ["--result-json", f"{SHARE}/out/{result}"]
        return " ".join(words)

    def result(self, name):
        return json.loads((self.guest.share / "out" / name).read_text())

    def wait_trace(self, name, pattern, count, job, timeout=60):
        """Waits until the trace has count lines with pattern (or the job ended)."""
        path = self.guest.share / "out" / name
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if path.read_text(errors="replace").count(pattern) >= count:
                    return True
            except FileNotFoundError:
                pass
            if job.done():
                return False
            time.sleep(0.05)
        return False


def check_whole_transfer(report, speed):
    """The receiver took every block, in order and intact, at the speed its entry needs."""
    expect(report["errors"] == [], f"receiver errors: {report['errors'][:3]}")
    expect(report["completed"] and report["transfersCompleted"] == 1,
           f"transfer not complete: {report['blocksAccepted']} of {report['expectedBlocks']}")
    expect(report["blocksAccepted"] == report["expectedBlocks"] > 0,
           f"{report['blocksAccepted']} of {report['expectedBlocks']} blocks")
    for seg in report["segments"]:
        expect(seg["sha256"] == seg["expectedSha256"], f"segment {seg['name']} differs")
    expect(report["initialBaud"] == 9600, f"handshake at {report['initialBaud']} baud")
    if speed == 9600:
        expect(report["speedChanges"] == [], f"speed changed: {report['speedChanges']}")
    else:
        expect([(c["from"], c["to"], c["afterBlocks"]) for c in report["speedChanges"]] ==
               [(9600, speed, 0)], f"speed changes: {report['speedChanges']}")
    expect(report["strayBytes"] == 0, f"{report['strayBytes']} stray bytes")


def case_list_ports(h):
    r = h.receiver("list")
    h.plug("ftdi1", "ORV00001", r, wait_for="/dev/ttyUSB0")
    rc, out = h.guest.run(f"{GUEST_CLI} --list-ports", 30)
    _, links = h.guest.run("for l in /dev/serial/by-id/*; do echo $l $(readlink -f $l); done", 10)
    h.discard("ftdi1")
    expect(rc == 0, f"exit {rc}: {out}")
    line = next((l for l in out.splitlines() if "/dev/ttyUSB0" in l), None)
    expect(line is not None, f"/dev/ttyUSB0 not listed:\n{out}")
    words = line.split()
    expect(re.fullmatch(r"COM\d+", words[0]), f"no COM number: {line}")
    expect("0403:6001" in words and "ORV00001" in words, f"USB IDs or serial missing: {line}")
    by_id = next((w for w in words if w.startswith("usb-") and "ORV00001" in w), "")
    expect(by_id.endswith("-if00-port0"), f"no by-id name: {line}")
    expect(f"/dev/serial/by-id/{by_id} /dev/ttyUSB0" in links, f"by-id links: {links}")
    expect(CONSOLE_TTY not in " ".join(l for l in out.splitlines() if l.startswith("COM")),
           f"the console is numbered:\n{out}")
    return line.strip()


def case_speed_carried(h):
    # The handshake frame written by hand, once at 38400 and once at 9600: only the second may be
    # answered, so the far end sees the speed the driver set, not one QEMU or the
    # pseudo-terminal chose (a wiring that dropped speed changes would pass every update below).
    r = h.receiver("speed", "--id", "K64E")
    h.plug("ftdi1", "ORVSPEED", r, wait_for="/dev/ttyUSB0")
    frame = r"\044\044\123\123\030\002\061\066\035\015\012"
    script = "".join(f"(stty {baud} raw -echo; printf '{frame}'; sleep 1) <> /dev/ttyUSB0 >&0\n"
                     for baud in (38400, 9600))
    rc, out = h.guest.run(script, 30)
    report = r.stop()
    h.discard("ftdi1")
    expect(rc == 0, f"exit {rc}: {out}")
    kinds = [e["kind"] for e in report["errors"]]
    expect(kinds == ["wrong_speed"], f"receiver errors {report['errors']}")
    expect("38400" in report["errors"][0]["detail"], report["errors"][0]["detail"])
    expect(report["handshakesSeen"] == 1 and report["handshakesAnswered"] == 1,
           f"{report['handshakesSeen']} handshakes seen, {report['handshakesAnswered']} answered")
    return "38400 refused, 9600 answered"


def update_case(h, ident, speed):
    """A whole update through an FT232 adapter."""
    r = h.receiver(ident.lower(), "--id", ident)
    h.plug("ftdi1", f"ORV{ident}", r, wait_for="/dev/ttyUSB0")
    job = h.guest.start(h.updater("--port", "/dev/ttyUSB0", "--allow-placeholder-firmware",
                                  "--timeout", "60", result=f"{ident}.json"))
    rc = job.wait(240)
    report = r.stop()
    h.discard("ftdi1")
    expect(rc == 0, f"exit {rc}: {job.output()[-600:]}; receiver errors {report['errors'][:2]}")
    check_whole_transfer(report, speed)
    res = h.result(f"{ident}.json")
    expect(res["blocksAcknowledged"] == report["blocksAccepted"], "block counts differ")
    return (f"{report['blocksAccepted']} blocks at {speed} baud in "
            f"{res['transferSeconds']:.1f} s")


def case_ftdi_9600(h):
    return update_case(h, "K64E", 9600)


def case_ftdi_115200(h):
    return update_case(h, "76S0", 115200)


def case_ftdi_s_form(h):
    return update_case(h, "11S2", 115200)


def case_uart(h):
    job = h.guest.start(h.updater("--port", "/dev/ttyS1", "--allow-placeholder-firmware",
                                  "--timeout", "60", result="uart.json"))
    rc = job.wait(240)
    report = h.uart.stop()
    expect(rc == 0, f"exit {rc}: {job.output()[-600:]}; receiver errors {report['errors'][:2]}")
    check_whole_transfer(report, 115200)
    res = h.result("uart.json")
    return f"{report['blocksAccepted']} blocks at 115200 baud in {res['transferSeconds']:.1f} s"


def unplug_in_transfer(h, wait):
    name = "cut-wait" if wait else "cut"
    r = h.receiver(name, "--id", "K64E", "--ack-delay", "10")
    h.plug("ftdi1", "ORVCUT", r, wait_for="/dev/ttyUSB0")
    args = ["--port", "/dev/ttyUSB0", "--allow-placeholder-firmware", "--timeout", "60"]
    if wait:
        args.append("--wait")
    job = h.guest.start(h.updater(*args, trace=f"{name}.trace", result=f"{name}.json"))
    began = h.wait_trace(f"{name}.trace", "RX frame SX", 40, job)
    h.pull("ftdi1", gone="/dev/ttyUSB0")
    rc = job.wait(60)
    report = r.stop()
    h.discard("ftdi1")
    expect(began, "the transfer did not begin")
    out = job.output()
    expect(rc == 7, f"exit {rc}, not 7: {out[-600:]}")
    m = re.search(r"The last block acknowledged was block (\d+) \(Address: ([0-9A-F]+)\)", out)
    expect(m, f"no last acknowledged block named: {out[-600:]}")
    block = int(m.group(1))
    # Stop and wait: at most the one acknowledgement on its way was lost with the adapter.
    expect(report["acksSent"] - 1 <= block <= report["acksSent"],
           f"message names block {block}, the receiver acknowledged {report['acksSent']}")
    expect(int(m.group(2), 16) == (block - 1) * 128, f"address {m.group(2)} for block {block}")
    expect(report["errors"] == [], f"receiver errors: {report['errors'][:3]}")
    expect(h.result(f"{name}.json")["exitCode"] == 7, "result JSON disagrees")
    return f"cut after block {block} of {report['expectedBlocks']}"


def case_unplug_transfer(h):
    return unplug_in_transfer(h, wait=False)


def case_unplug_transfer_wait(h):
    return unplug_in_transfer(h, wait=True)


def case_unplug_handshake(h):
    # The receiver answers only its 12th handshake (about 5 s): the adapter is pulled after the
    # second and plugged back 2 s later, as a receiver switched off and on takes its port along.
    r = h.receiver("away", "--id", "K64E", "--answer-after", "12")
    h.plug("ftdi1", "ORVAWAY", r, wait_for="/dev/ttyUSB0")
    job = h.guest.start(h.updater("--port", "/dev/ttyUSB0", "--allow-placeholder-firmware",
                                  "--timeout", "60", "--wait", trace="away.trace"))
    seen = h.wait_trace("away.trace", "TX frame SS", 2, job)
    h.pull("ftdi1", gone="/dev/ttyUSB0")
    time.sleep(2)
    h.plug_back("ftdi1", wait_for="/dev/ttyUSB0")
    rc = job.wait(90)
    report = r.stop()
    h.discard("ftdi1")
    expect(seen, "no handshake before the adapter was pulled")
    out = job.output()
    expect(rc == 0, f"exit {rc}: {out[-600:]}")
    expect("the device is back" in out, f"the return is not reported: {out[-600:]}")
    check_whole_transfer(report, 9600)
    return f"{report['handshakesSeen']} handshakes seen by the receiver"


def case_name_taken(h):
    # Adapter A leaves /dev/ttyUSB0 while the handshake waits; adapter B, another receiver's,
    # takes that name; A comes back as /dev/ttyUSB1. The updater must follow A.
    ra = h.receiver("own", "--id", "K64E", "--answer-after", "14")
    rb = h.receiver("other", "--id", "K37E")
    h.plug("ftdiA", "ORVOWN", ra, wait_for="/dev/ttyUSB0")
    job = h.guest.start(h.updater("--port", "/dev/ttyUSB0", "--allow-placeholder-firmware",
                                  "--timeout", "60", "--wait", trace="taken.trace"))
    seen = h.wait_trace("taken.trace", "TX frame SS", 2, job)
    h.pull("ftdiA", gone="/dev/ttyUSB0")
    h.plug("ftdiB", "ORVOTHER", rb, wait_for="/dev/ttyUSB0")
    time.sleep(2)
    h.plug_back("ftdiA", wait_for="/dev/ttyUSB1")
    rc = job.wait(90)
    own, other = ra.stop(), rb.stop()
    h.discard_all()
    expect(seen, "no handshake before the adapter was pulled")
    out = job.output()
    expect(other["handshakesSeen"] == 0 and other["strayBytes"] == 0,
           f"the other receiver got {other['handshakesSeen']} handshakes, "
           f"{other['strayBytes']} stray bytes")
    expect(rc == 0, f"exit {rc}: {out[-600:]}")
    expect("/dev/ttyUSB1" in out, f"the return at /dev/ttyUSB1 is not reported: {out[-600:]}")
    check_whole_transfer(own, 9600)
    return "followed its adapter to /dev/ttyUSB1"


def case_number_of_a_late_adapter(h):
    # Adapter A is named by its by-id path before it is plugged in (--wait); it appears, the
    # update runs, and the number it was given must be stored as A's own: a new adapter B plugged
    # afterwards gets the next number, not A's.
    ra = h.receiver("late", "--id", "K37E")
    h.plug("ftdiA", "ORVLATE", ra, wait_for="/dev/ttyUSB0")
    _, by_id = h.guest.run("ls /dev/serial/by-id/ | grep ORVLATE", 10)
    by_id = "/dev/serial/by-id/" + by_id.strip()
    h.pull("ftdiA", gone="/dev/ttyUSB0")
    h.guest.run(f"{GUEST_CLI} --forget-ports", 30)  # A is a stranger again
    job = h.guest.start(h.updater("--port", by_id, "--allow-placeholder-firmware",
                                  "--timeout", "60", "--wait"))
    time.sleep(1)
    h.plug_back("ftdiA", wait_for="/dev/ttyUSB0")
    rc = job.wait(90)
    h.pull("ftdiA", gone="/dev/ttyUSB0")
    rb = h.receiver("next", "--id", "K37E")
    h.plug("ftdiB", "ORVNEXT", rb, wait_for="/dev/ttyUSB0")
    h.plug_back("ftdiA", wait_for="/dev/ttyUSB1")
    _, listed = h.guest.run(f"{GUEST_CLI} --list-ports", 30)
    ra.stop()
    rb.stop()
    h.discard_all()
    expect(rc == 0, f"exit {rc}: {job.output()[-600:]}")
    numbers = {}
    for line in listed.splitlines():
        for serial in ("ORVLATE", "ORVNEXT"):
            if serial in line.split():
                numbers[serial] = int(line.split()[0][3:])
    expect(len(numbers) == 2, f"not both listed:\n{listed}")
    expect(numbers["ORVLATE"] < numbers["ORVNEXT"],
           f"the late adapter's number was not kept: {numbers}\n{listed}")
    return f"COM{numbers['ORVLATE']} kept, the next adapter got COM{numbers['ORVNEXT']}"


def case_paced(h):
    r = h.receiver("paced", "--id", "76S0", "--pace")
    h.plug("ftdi1", "ORVPACED", r, wait_for="/dev/ttyUSB0")
    job = h.guest.start(h.updater("--port", "/dev/ttyUSB0", "--allow-placeholder-firmware",
                                  "--timeout", "60", result="paced.json"))
    rc = job.wait(240)
    report = r.stop()
    h.discard("ftdi1")
    expect(rc == 0, f"exit {rc}: {job.output()[-600:]}")
    check_whole_transfer(report, 115200)
    res = h.result("paced.json")
    blocks = report["blocksAccepted"]
    # Block frames of 142 bytes and 9-byte acknowledgements at 10 bits a byte.
    wire = blocks * (142 + 9) * 10 / 115200
    t = report.get("turnaroundUs", {})
    return (f"{blocks} blocks in {res['transferSeconds']:.1f} s (wire time {wire:.1f} s, "
            f"turnaround median {t.get('median', 0) / 1000:.1f} ms, "
            f"p99 {t.get('p99', 0) / 1000:.1f} ms)")


def case_placeholder_guard(h):
    r = h.receiver("guard", "--id", "K64E")
    h.plug("ftdi1", "ORVGUARD", r, wait_for="/dev/ttyUSB0")
    rc, out = h.guest.run(h.updater("--port", "/dev/ttyUSB0", "--timeout", "20"), 60)
    time.sleep(0.5)
    report = r.stop()
    h.discard("ftdi1")
    expect(rc == 4, f"exit {rc}, not 4: {out[-600:]}")
    expect(report["handshakesSeen"] == 0 and report["strayBytes"] == 0,
           f"the receiver got {report['handshakesSeen']} handshakes, "
           f"{report['strayBytes']} stray bytes")
    return "refused, nothing sent"


def case_two_updaters(h):
    r = h.receiver("two", "--id", "K64E", "--ack-delay", "2")
    h.plug("ftdi1", "ORVTWO", r, wait_for="/dev/ttyUSB0")
    one = h.updater("--port", "/dev/ttyUSB0", "--allow-placeholder-firmware", "--timeout", "60")
    # Both started in the same instant: whichever opens first must be the only one on the line.
    rc, out = h.guest.run(f"({one} > /tmp/a.log 2>&1; echo a=$? >> /tmp/rc) &\n"
                          f"({one} > /tmp/b.log 2>&1; echo b=$? >> /tmp/rc) &\n"
                          "wait; sort /tmp/rc; echo ---; cat /tmp/a.log /tmp/b.log; rm /tmp/rc",
                          240)
    report = r.stop()
    h.discard("ftdi1")
    codes = sorted(int(c) for c in re.findall(r"^[ab]=(\d+)$", out, re.M))
    expect(codes == [0, 1], f"exit codes {codes}, not 0 and 1: {out[-800:]}")
    expect(re.search(r"in use by another program: orvane-update-cli \(pid \d+\)", out),
           f"the refusal does not name the updater holding the port: {out[-800:]}")
    check_whole_transfer(report, 9600)
    # A handshake of the other updater in the middle would have started the transfer again.
    expect(report["restarts"] == 0, "the transfer was started again in the middle")
    return "one updated, one refused"


def case_console(h):
    # The guest's console is its ttyS0 (the kernel's messages go there); asked for under any
    # name, it is refused unless --allow-console says so.
    script = (f"mknod /tmp/alias c $(stat -c '%t %T' /dev/{CONSOLE_TTY} | "
              "while read a b; do echo $((0x$a)) $((0x$b)); done)\n"
              f"for p in /dev/{CONSOLE_TTY} /dev/console /tmp/alias; do "
              f"{GUEST_CLI} --port $p -t 2 >/dev/null 2>/tmp/err; echo \"$p=$? $(cat /tmp/err)\"; "
              "done\n"
              f"{GUEST_CLI} --port /tmp/alias --allow-console -t 1 >/dev/null 2>/tmp/err; "
              "echo \"allowed=$? $(cat /tmp/err)\"")
    rc, out = h.guest.run(script, 60)
    expect(rc == 0, f"exit {rc}: {out}")
    for name in (f"/dev/{CONSOLE_TTY}", "/dev/console", "/tmp/alias"):
        expect(re.search(rf"^{re.escape(name)}=64 error: .*is the system console", out, re.M),
               f"{name} not refused:\n{out}")
    expect(re.search(r"^allowed=\d+ warning: /tmp/alias is the system console", out, re.M),
           f"--allow-console did not warn and go on:\n{out}")
    return "refused under three names; allowed with a warning"


CASES = [
    ("list-ports: FTDI with COM number, by-id, 0403:6001, serial", case_list_ports),
    ("the far end sees the speed ftdi_sio set: a frame at 38400 refused", case_speed_carried),
    ("ftdi_sio update at 9600 (K64E)", case_ftdi_9600),
    ("ftdi_sio update switching to 115200 (76S0)", case_ftdi_115200),
    ("ftdi_sio update, S form switching to 115200 (11S2)", case_ftdi_s_form),
    ("8250 UART /dev/ttyS1 update, S form switching to 115200 (11S9)", case_uart),
    ("unplug during the transfer: exit 7, last block named", case_unplug_transfer),
    ("unplug during the transfer with --wait: exit 7, last block named",
     case_unplug_transfer_wait),
    ("unplug during the handshake with --wait, plugged back: completes", case_unplug_handshake),
    ("adapter's name taken by another adapter while away", case_name_taken),
    ("a by-id path waited for keeps its COM number once it appears", case_number_of_a_late_adapter),
    ("wire-paced update at 115200 (76S0, figure)", case_paced),
    ("placeholder guard: FTDI refused without the bench override", case_placeholder_guard),
    ("two updaters on /dev/ttyUSB0 at once: second refused", case_two_updaters),
    ("the console under any name: refused without --allow-console", case_console),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--bootsim", required=True)
    parser.add_argument("--work", default="build/real-drivers")
    parser.add_argument("-k", dest="keyword", default="", help="run only cases naming WORD")
    args = parser.parse_args()
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    h = Harness(work, os.path.abspath(args.cli), os.path.abspath(args.bootsim))

    start = time.monotonic()
    release, root = fetch_packages(work)
    kernel = extract_vmlinux(root, release, work)
    initrd = build_initramfs(work, root, release, h.cli)
    log(f"guest: Linux {release}, initramfs {initrd.stat().st_size // 1024} KiB, "
        f"prepared in {time.monotonic() - start:.1f} s")

    passed = failed = 0
    cases = [c for c in CASES if args.keyword.lower() in c[0].lower()]
    h.uart = h.receiver("uart", "--id", "11S9")
    boot = time.monotonic()
    h.guest = Guest(work, kernel, initrd, h.uart.link)
    try:
        try:
            h.guest.wait_ready()
            log(f"guest: ready in {time.monotonic() - boot:.1f} s")
        except RuntimeError as e:
            log(f"FAIL  guest boot: {e}")
            log(h.guest.console.read_text(errors="replace")[-3000:])
            cases, failed = [], len(cases)
        for title, fn in cases:
            t0 = time.monotonic()
            try:
                figure = fn(h)
                passed += 1
                log(f"PASS  {title}  [{time.monotonic() - t0:.1f} s]  {figure}")
            except Exception as e:  # a case that fails for any reason is reported, not fatal
                failed += 1
                kind = "" if isinstance(e, Failure) else f"{type(e).__name__}: "
                log(f"FAIL  {title}  [{time.monotonic() - t0:.1f} s]  {kind}{e}")
                try:
                    h.discard_all()
                except Exception:
                    pass
    finally:
        h.guest.stop()
        for r in h.receivers:
            if r.proc.poll() is None:
                r.proc.kill()
                r.proc.wait()
    log(f"total {time.monotonic() - start:.1f} s")
    print(f"{passed} passed, {failed} failed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
