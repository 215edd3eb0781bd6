#!/usr/bin/env python3
"""Runs CSerialPort against real kernel serial drivers in a small emulated machine.

Boots a Debian kernel under QEMU (TCG) with an initramfs holding busybox, the USB serial
modules and the static program built from DriverGuest.cpp. The guest sees three real drivers:
  /dev/ttyS1    an emulated 16550 UART            (host plays the device on uart.sock)
  /dev/ttyUSB0  an emulated FTDI USB adapter      (host plays the device on ftdi.sock)
  /dev/ttyACM0  cdc_acm over the guest's own USB gadget (dummy_hcd + g_serial; device side
                answered inside the guest on /dev/ttyGS0)
The host also answers the guest's requests on /dev/ttyS2 (marks, what QEMU's trace shows was
programmed into the hardware, unplug and replug of the FTDI adapter through QMP) and follows
QEMU's trace log. The guest prints one PASS or FAIL line per driver and check.
"""

import argparse
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

# Modules the guest loads, with their dependencies resolved from modules.dep.
WANTED_MODULES = ["xhci-pci", "ftdi_sio", "cdc-acm", "dummy_hcd", "u_serial", "usb_f_acm",
                  "g_serial"]
DEADLINE_S = 110  # the whole run, kernel download included, stays under two minutes
UNPLUG_AFTER_S = 0.3  # between the half reply and the pulled cable

FTDI_DEVICE = {"driver": "usb-serial", "id": "ftdi", "chardev": "ftdic", "bus": "xhci.0"}
FTDI_SET_MODEM_CTRL = 0x4001  # vendor, host to device, request 1
FTDI_DTR_MASK = 0x0100
FTDI_DTR = 0x0001
UART_LCR = 0x03
UART_LCR_PARITY = 0x08
UART_LCR_EVEN = 0x10
UART_LCR_STICK = 0x20  # the parity bit fixed: 1 (mark) without EVEN, 0 (space) with it
UART_MCR = 0x04
UART_MCR_DTR = 0x01


def log(text):
    print("host: " + text, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, **kw).stdout


def kernel_package():
    for attempt in range(2):
        try:
            out = run(["apt-cache", "depends", "linux-image-amd64"])
            m = re.search(r"Depends: (linux-image-[0-9.]+-[0-9]+-amd64)", out)
            if m:
                return m.group(1)
        except subprocess.CalledProcessError:
            pass
        if attempt == 0:
            run(["apt-get", "update", "-qq"])
    raise RuntimeError("no linux-image-*-amd64 package known to apt")


def resolve_modules(dep_file):
    deps = {}
    path_of = {}
    with open(dep_file) as f:
        for line in f:
            path, _, rest = line.partition(":")
            name = os.path.basename(path)[:-len(".ko")].replace("-", "_")
            path_of[name] = path
            deps[name] = [os.path.basename(p)[:-len(".ko")].replace("-", "_")
                          for p in rest.split()]
    order = []

    def visit(name):
        if name in order:
            return
        for dep in reversed(deps[name]):
            visit(dep)
        order.append(name)

    for wanted in WANTED_MODULES:
        visit(wanted.replace("-", "_"))
    return [(name, path_of[name]) for name in order]


def prepare_kernel(cache):
    """The kernel and the modules the guest needs, unpacked once into the build folder."""
    package = kernel_package()
    folder = os.path.join(cache, package)
    if os.path.exists(os.path.join(folder, "order")):
        return folder
    log("downloading and unpacking " + package)
    for old in os.listdir(cache):  # an older kernel, or a download cut short
        shutil.rmtree(os.path.join(cache, old), ignore_errors=True)
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        run(["apt-get", "download", package], cwd=tmp)
        deb = [f for f in os.listdir(tmp) if f.endswith(".deb")][0]
        root = os.path.join(tmp, "x")
        run(["dpkg-deb", "-x", os.path.join(tmp, deb), root])
        version = os.listdir(os.path.join(root, "lib/modules"))[0]
        run(["depmod", "-b", root, version])
        modules = resolve_modules(os.path.join(root, "lib/modules", version, "modules.dep"))
        staging = folder + ".part"
        shutil.rmtree(staging, ignore_errors=True)
        os.makedirs(os.path.join(staging, "modules"))
        shutil.copy(os.path.join(root, "boot", "vmlinuz-" + version),
                    os.path.join(staging, "vmlinuz"))
        for name, path in modules:
            shutil.copy(os.path.join(root, "lib/modules", version, path),
                        os.path.join(staging, "modules", name + ".ko"))
        with open(os.path.join(staging, "order"), "w") as f:
            f.write("\n".join(name for name, _ in modules) + "\n")
        os.rename(staging, folder)
    return folder


INIT = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /run /sbin
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sys /sys
echo "guest: up after $(cut -d' ' -f1 /proc/uptime) s"
for m in $(cat /lib/modules/order); do
    insmod /lib/modules/$m.ko || echo "guest: insmod $m failed"
done
echo "guest: modules loaded after $(cut -d' ' -f1 /proc/uptime) s"
mkdir -p /run/cfg/MorvikSerialDemo/ports
ln -s /dev/ttyS1 /run/cfg/MorvikSerialDemo/ports/COM1
ln -s /dev/ttyUSB0 /run/cfg/MorvikSerialDemo/ports/COM2
ln -s /dev/ttyACM0 /run/cfg/MorvikSerialDemo/ports/COM3
export XDG_CONFIG_HOME=/run/cfg
/driver_guest
rc=$?
echo "guest: driver_guest exited with $rc after $(cut -d' ' -f1 /proc/uptime) s"
if [ $rc -ne 0 ]; then
    echo "guest: kernel log follows"
    dmesg | tail -n 80
fi
poweroff -f
"""


def build_initramfs(work, kernel, guest):
    root = os.path.join(work, "initramfs")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "bin"))
    os.makedirs(os.path.join(root, "lib/modules"))
    shutil.copy("/bin/busybox", os.path.join(root, "bin/busybox"))
    shutil.copy(guest, os.path.join(root, "driver_guest"))
    for f in os.listdir(os.path.join(kernel, "modules")):
        shutil.copy(os.path.join(kernel, "modules", f), os.path.join(root, "lib/modules", f))
    shutil.copy(os.path.join(kernel, "order"), os.path.join(root, "lib/modules/order"))
    with open(os.path.join(root, "init"), "w") as f:
        f.write(INIT)
    os.chmod(os.path.join(root, "init"), 0o755)
    image = os.path.join(work, "initramfs.cpio")
    names = subprocess.run(["find", "."], cwd=root, check=True, stdout=subprocess.PIPE).stdout
    with open(image, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=names,
                       stdout=out, check=True)
    return image


class Trace:
    """Follows QEMU's trace log: what the guest programmed into the 16550 and the FTDI chip."""

    LINE = re.compile(r"^\d+@(\d+\.\d+):(\w+) (.*)$")

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = ""
        self.line = {"16550": None, "ftdi": None}
        self.dtr = {"16550": 0, "ftdi": 0}
        self.edges = {"16550": [], "ftdi": []}  # (time, new DTR level)
        self.ftdi_baud = 9600
        self.ftdi_data = ("N", 8, 1)
        self.ftdi_asked_data = None
        self.uart_lcr = 0  # the last line-control byte written: the trace's line lacks stick parity

    def _set_dtr(self, dev, t, level):
        if level != self.dtr[dev]:
            self.dtr[dev] = level
            self.edges[dev].append((t, level))

    def update(self):
        try:
            with open(self.path) as f:
                f.seek(self.offset)
                chunk = f.read()
                self.offset = f.tell()
        except FileNotFoundError:
            return
        lines = (self.partial + chunk).split("\n")
        self.partial = lines.pop()
        for text in lines:
            m = self.LINE.match(text)
            if not m:
                continue
            t, event, args = float(m.group(1)), m.group(2), m.group(3)
            if event == "serial_update_parameters":
                v = dict(re.findall(r"(\w+)=(\S+)", args))
                parity = v["parity"].strip("'")
                if self.uart_lcr & UART_LCR_PARITY and self.uart_lcr & UART_LCR_STICK:
                    parity = "S" if self.uart_lcr & UART_LCR_EVEN else "M"
                # The stop-bit flag makes 1.5 on a 5-bit line; QEMU calls it 2.
                stop = "1.5" if v["data"] == "5" and v["stop"] == "2" else v["stop"]
                self.line["16550"] = "%s/%s/%s/%s" % (v["baudrate"], parity, v["data"], stop)
            elif event == "serial_write":
                v = re.search(r"addr 0x([0-9a-f]+) val 0x([0-9a-f]+)", args)
                if v and int(v.group(1), 16) == UART_LCR:
                    self.uart_lcr = int(v.group(2), 16)
                if v and int(v.group(1), 16) == UART_MCR:
                    self._set_dtr("16550", t, int(v.group(2), 16) & UART_MCR_DTR)
            elif event == "usb_serial_reset":
                self.ftdi_baud, self.ftdi_data = 9600, ("N", 8, 1)
                self._set_dtr("ftdi", t, 0)
                self._ftdi_line()
            elif event == "usb_serial_set_baud":
                self.ftdi_baud = int(re.search(r"baud rate (\d+)", args).group(1))
                self._ftdi_line()
            elif event == "usb_serial_set_data":
                v = re.search(r"parity (\S), data bits (\d+), stop bits (\d+)", args)
                # The emulation runs 7 data bits as 8; what the guest asked for is what counts.
                data = self.ftdi_asked_data or int(v.group(2))
                self.ftdi_asked_data = None
                self.ftdi_data = (v.group(1), data, int(v.group(3)))
                self._ftdi_line()
            elif event == "usb_serial_unsupported_data_bits":
                self.ftdi_asked_data = int(re.search(r"data bits (\d+)", args).group(1))
            elif event == "usb_serial_handle_control":
                v = re.search(r"got control 0x([0-9a-f]+), value 0x([0-9a-f]+)", args)
                if v and int(v.group(1), 16) == FTDI_SET_MODEM_CTRL:
                    value = int(v.group(2), 16)
                    if value & FTDI_DTR_MASK:
                        self._set_dtr("ftdi", t, 1 if value & FTDI_DTR else 0)

    def _ftdi_line(self):
        self.line["ftdi"] = "%d/%s/%d/%d" % ((self.ftdi_baud,) + self.ftdi_data)

    def state(self, dev, marks, since):
        """key=value words: the line now, DTR now, pulses and edges since a mark."""
        self.update()
        start = marks.get(since, time.time())
        pulses, edges, rise = [], [], None
        for t, level in self.edges[dev]:
            if t < start:
                continue
            before = max((m for m in marks.items() if m[1] <= t), key=lambda m: m[1],
                         default=(since, start))
            edges.append(before[0] + ("+" if level else "-"))
            if level:
                rise = t
            elif rise is not None:
                pulses.append("%.3f" % ((t - rise) * 1000))
                rise = None
        if rise is not None:
            pulses.append("open")
        return "line=%s dtr=%d pulses=%s edges=%s" % (
            self.line[dev] or "none", self.dtr[dev], ",".join(pulses), ",".join(edges) or "none")


class Harness:
    def __init__(self, work, kernel, initramfs):
        self.work = work
        self.kernel = kernel
        self.initramfs = initramfs
        self.trace = Trace(os.path.join(work, "trace.log"))
        self.marks = {}
        self.unplug_at = None
        self.unplugged_at = None
        self.pending_qmp = []  # (command, callback)
        self.qmp_buffer = b""
        self.buffers = {}
        self.done = None
        self.hello_at = None
        self.host_failures = []

    def listen(self, name):
        path = os.path.join(self.work, name + ".sock")
        if os.path.exists(path):
            os.unlink(path)
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(path)
        s.listen(1)
        return s, path

    def qemu_command(self, paths):
        return [
            "qemu-system-x86_64", "-accel", "tcg", "-m", "256", "-smp", "1", "-nodefaults",
            "-no-user-config", "-display", "none", "-no-reboot",
            "-kernel", os.path.join(self.kernel, "vmlinuz"), "-initrd", self.initramfs,
            "-append", "console=ttyS0 panic=-1 quiet",
            "-chardev", "file,id=con,path=" + os.path.join(self.work, "console.log"),
            "-serial", "chardev:con",
            "-chardev", "socket,id=uart,path=" + paths["uart"], "-serial", "chardev:uart",
            "-chardev", "socket,id=ctl,path=" + paths["ctl"], "-serial", "chardev:ctl",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", "socket,id=ftdic,path=" + paths["ftdi"],
            "-device", ",".join(["usb-serial"] + ["%s=%s" % kv for kv in FTDI_DEVICE.items()
                                                  if kv[0] != "driver"]),
            "-chardev", "socket,id=qmp,path=" + paths["qmp"], "-mon", "chardev=qmp,mode=control",
            "-msg", "timestamp=on",
            "-trace", "serial_update_parameters", "-trace", "serial_write",
            "-trace", "usb_serial_*", "-D", os.path.join(self.work, "trace.log"),
        ]

    def qmp(self, command, arguments=None, callback=None):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        self.pending_qmp.append((command, callback))
        self.conns["qmp"].sendall(json.dumps(message).encode() + b"\n")

    def on_qmp(self, data):
        self.qmp_buffer += data
        while b"\n" in self.qmp_buffer:
            line, self.qmp_buffer = self.qmp_buffer.split(b"\n", 1)
            if not line.strip():
                continue
            msg = json.loads(line)
            if "QMP" in msg:
                self.qmp("qmp_capabilities")
            elif "event" in msg:
                log("qmp event " + msg["event"])
            elif "return" in msg or "error" in msg:
                command, callback = self.pending_qmp.pop(0)
                if "error" in msg:
                    log("qmp %s failed: %s" % (command, msg["error"]))
                if callback:
                    callback(msg)

    def on_device(self, name, data):
        """The host end of the 16550 or FTDI line: answers each CR-ended command."""
        buf = self.buffers.get(name, b"") + data
        while b"\r" in buf:
            line, buf = buf.split(b"\r", 1)
            if line == b"PART":
                self.conns[name].sendall(b"HALF")
                if name == "ftdi":
                    self.unplug_at = time.time() + UNPLUG_AFTER_S
            else:
                self.conns[name].sendall(b"OK " + line + b"\r")
        self.buffers[name] = buf

    def on_control(self, data):
        buf = self.buffers.get("ctl", b"") + data
        while b"\n" in buf:
            line, buf = buf.split(b"\n", 1)
            self.request(line.decode(errors="replace").strip())
        self.buffers["ctl"] = buf

    def answer(self, text):
        self.conns["ctl"].sendall(text.encode() + b"\n")

    def request(self, line):
        word, _, rest = line.partition(" ")
        if word == "HELLO":
            self.hello_at = time.time()
            self.answer("OK")
        elif word == "MARK":
            self.marks[rest] = time.time()
            self.answer("OK")
        elif word == "STATE":
            dev, _, since = rest.partition(" ")
            if dev in self.trace.line:
                self.answer(self.trace.state(dev, self.marks, since))
            else:
                self.answer("ERROR no trace of " + dev)
        elif word == "LATENCY":
            if self.unplugged_at is None:
                self.answer("none")
            else:
                self.answer("ms=%.1f" % ((time.time() - self.unplugged_at) * 1000))
        elif word == "REPLUG":
            self.unplugged_at = None
            self.qmp("device_add", FTDI_DEVICE,
                     lambda msg: self.answer("OK" if "return" in msg else
                                             "device_add failed: " + json.dumps(msg)))
        elif word == "DONE":
            self.done = int(rest)
            self.answer("OK")
        else:
            self.answer("ERROR unknown request " + line)

    def run(self, deadline):
        listeners, paths = {}, {}
        for name in ("uart", "ftdi", "ctl", "qmp"):
            listeners[name], paths[name] = self.listen(name)
        self.conns = {}
        cmd = self.qemu_command(paths)
        with open(os.path.join(self.work, "qemu.log"), "w") as qlog:
            started = time.time()
            proc = subprocess.Popen(cmd, stdout=qlog, stderr=subprocess.STDOUT)
            try:
                self.loop(proc, listeners, deadline)
            except Exception:  # reported with the guest's log rather than lost in a traceback
                self.host_failures.append("harness error:\n" + traceback.format_exc())
            finally:
                if proc.poll() is None:
                    proc.kill()
                proc.wait()
                for s in list(listeners.values()) + list(self.conns.values()):
                    s.close()
        self.trace.update()
        return started

    def loop(self, proc, listeners, deadline):
        by_socket = {}
        while proc.poll() is None:
            now = time.time()
            if now > deadline:
                self.host_failures.append("timeout: the guest did not finish in time")
                return
            if self.unplug_at is not None and now >= self.unplug_at:
                self.unplug_at = None
                self.unplugged_at = time.time()
                self.qmp("device_del", {"id": "ftdi"})
            waits = list(listeners.values()) + list(self.conns.values())
            timeout = 0.05 if self.unplug_at is None else max(0, self.unplug_at - now)
            readable, _, _ = select.select(waits, [], [], min(timeout, 0.05))
            for s in readable:
                name = next((n for n, l in listeners.items() if l is s), None)
                if name is not None:
                    conn, _ = s.accept()
                    self.conns[name] = conn
                    by_socket[conn] = name
                    del listeners[name]
                    s.close()
                    continue
                name = by_socket[s]
                data = s.recv(65536)
                if not data:
                    del self.conns[name]
                    continue
                if name == "qmp":
                    self.on_qmp(data)
                elif name == "ctl":
                    self.on_control(data)
                else:
                    self.on_device(name, data)
        if proc.returncode != 0:
            self.host_failures.append("QEMU exited with %d" % proc.returncode)


def tail(path, lines, skip=None):
    try:
        with open(path, errors="replace") as f:
            return "".join([l for l in f if not (skip and skip.search(l))][-lines:])
    except FileNotFoundError:
        return "(no %s)\n" % path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--guest", required=True, help="the static guest program")
    parser.add_argument("--work", required=True, help="a folder for this run's files")
    parser.add_argument("--cache", required=True, help="where the unpacked kernel is kept")
    args = parser.parse_args()

    start = time.time()
    deadline = start + DEADLINE_S
    os.makedirs(args.work, exist_ok=True)
    os.makedirs(args.cache, exist_ok=True)
    # A missing tool skips the test (CTest's skip code); CI installs them all and fails on a skip.
    for tool in ("qemu-system-x86_64", "cpio", "depmod", "dpkg-deb", "apt-get"):
        if not shutil.which(tool):
            print("SKIP: %s is not installed (tools/deps.sh installs it)" % tool)
            return 77
    if not os.path.exists("/bin/busybox"):
        print("SKIP: /bin/busybox is not installed (busybox-static)")
        return 77
    kernel = prepare_kernel(args.cache)
    initramfs = build_initramfs(args.work, kernel, args.guest)
    prepared = time.time()

    harness = Harness(args.work, kernel, initramfs)
    booted = harness.run(deadline)
    end = time.time()

    console = os.path.join(args.work, "console.log")
    with open(console, errors="replace") as f:
        guest_lines = f.read().splitlines()
    results = [l for l in guest_lines if l.startswith(("PASS ", "FAIL ", "MEASURE ", "RESULT "))]
    failures = [l for l in results if l.startswith("FAIL ")]
    failures += ["FAIL host %s" % f for f in harness.host_failures]
    if harness.done is None and not harness.host_failures:
        failures.append("FAIL host guest: the guest program did not finish (see its log)")

    print("\n".join(results))
    print("host: kernel and initramfs %.1f s, boot to first request %s s, whole run %.1f s" % (
        prepared - start,
        "%.1f" % (harness.hello_at - booted) if harness.hello_at else "-", end - start))
    if failures:
        print("\n== failed checks (driver, check)")
        print("\n".join(failures))
        print("\n== guest log (%s)" % console)
        print("\n".join(guest_lines))
        print("\n== QEMU output")
        print(tail(os.path.join(args.work, "qemu.log"), 40))
        print("== end of QEMU's trace (%s)" % os.path.join(args.work, "trace.log"))
        # Without the bytes of the lines themselves: registers, parameters and USB requests.
        print(tail(os.path.join(args.work, "trace.log"), 60,
                   re.compile(r"serial_write write addr 0x0[01] ")))
        return 1
    print("all driver checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
