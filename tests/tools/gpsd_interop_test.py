#!/usr/bin/env python3
"""gpsd, a real peer, drives kestrune-sim to a 3D fix.

Starts kestrune-sim on a pseudo-terminal and `gpsd -N -n` on it, reads gpsd's JSON watch stream
and checks, one case after another:
  - TSIP at 9600: the driver is TSIP, and a TPV of mode 3 at the simulator's place and date;
  - NMEA at 4800, gpsd told that speed: the same;
  - TSIP at 9600, then `gpsctl -s 4800`: the simulator moves to 4800, and fixes go on.
Exits 0 when all hold, 1 when one does not, and SKIP_STATUS without gpsd (unless
KESTRUNE_REQUIRE_GPSD=1, where a missing gpsd fails). Every process it starts is stopped on
the way out, and dies with it should it be killed.

    gpsd_interop_test.py PATH_TO_KESTRUNE_SIM
"""

import ctypes
import datetime
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP_STATUS = 77
# Two cases of one wait and one of two stay inside CTest's 60 s, so that a stuck case still ends
# here, cleaning up.
CASE_WAIT_SECONDS = 12
STOP_WAIT_SECONDS = 3
# gpsctl talks to the gpsd on this port only.
GPSCTL_PORT = 2947
PLACE = (-33.4489, -70.6693, 520.0)
DEGREES_TOLERANCE = 1e-5
PR_SET_PDEATHSIG = 1
SBIN = "/usr/sbin:/sbin"


class Failure(Exception):
    pass


def die_with_parent():
    """Runs in each child before exec: the kernel ends it if this script dies."""
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class Processes:
    """Every process started, stopped in reverse order however the run ends."""

    def __init__(self):
        self.started = []

    def start(self, argv, **kwargs):
        process = subprocess.Popen(argv, preexec_fn=die_with_parent, **kwargs)
        self.started.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.started):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(STOP_WAIT_SECONDS)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.started.clear()


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self):
        return max(0.0, self.end - time.monotonic())


class Simulator:
    """kestrune-sim on a new pseudo-terminal; its later lines report settings changes."""

    def __init__(self, processes, sim_path, args):
        self.process = processes.start([sim_path] + args, stdout=subprocess.PIPE)
        self.pending = b""
        deadline = Deadline(CASE_WAIT_SECONDS)
        self.device = self.read_line(deadline)
        self.read_line(deadline)  # the port name to store
        if not self.device.startswith("/dev/"):
            raise Failure("kestrune-sim printed no device: %r" % self.device)

    def read_line(self, deadline):
        fd = self.process.stdout.fileno()
        while b"\n" not in self.pending:
            ready, _, _ = select.select([fd], [], [], deadline.left())
            chunk = os.read(fd, 4096) if ready else b""
            if not chunk:
                raise Failure("kestrune-sim printed no whole line in time: %r" % self.pending)
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode()

    def wait_for_settings(self, text, deadline):
        while True:
            if self.read_line(deadline) == "settings " + text:
                return


class Watch:
    """A client of gpsd's JSON watch stream."""

    def __init__(self, port, deadline):
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=1)
                break
            except OSError:
                if deadline.left() == 0:
                    raise Failure("gpsd never listened on port %d" % port)
                time.sleep(0.1)
        self.buffer = b""
        self.send('?WATCH={"enable":true,"json":true};')

    def send(self, command):
        self.sock.sendall(command.encode() + b"\n")

    def next_report(self, deadline):
        while b"\n" not in self.buffer:
            self.sock.settimeout(max(deadline.left(), 0.01))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                return None
            if not chunk:
                raise Failure("gpsd closed the watch")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def wait_for(self, accept, what, deadline):
        seen = []
        while deadline.left() > 0:
            report = self.next_report(deadline)
            if report is None:
                break
            if accept(report):
                return report
            seen.append(report.get("class"))
        raise Failure("no %s from gpsd; it sent %s" % (what, seen[-12:]))

    def close(self):
        self.sock.close()


def utc_dates():
    """Today's UTC date, and tomorrow's should the run cross midnight."""
    today = datetime.datetime.now(datetime.timezone.utc).date()
    return {str(today), str(today + datetime.timedelta(days=1))}


def is_fix_here(report):
    return (report.get("class") == "TPV" and report.get("mode") == 3 and "lat" in report
            and abs(report["lat"] - PLACE[0]) < DEGREES_TOLERANCE
            and abs(report["lon"] - PLACE[1]) < DEGREES_TOLERANCE
            and report.get("time", "")[:10] in utc_dates())


def is_tsip_device(report):
    return report.get("class") == "DEVICE" and "TSIP" in report.get("driver", "")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_is_free(port):
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def start_gpsd(processes, gpsd, device, port, extra, log):
    processes.start([gpsd, "-N", "-n", "-S", str(port)] + extra + [device],
                    stdout=log, stderr=subprocess.STDOUT)


def first_fix(watch, deadline, started):
    fix = watch.wait_for(is_fix_here, "TPV of mode 3 at the simulator's place", deadline)
    print("  first mode-3 TPV after %.1f s: %s" % (time.monotonic() - started, fix["time"]))
    return fix


def tsip_at_9600(tools, processes, log):
    deadline, started = Deadline(CASE_WAIT_SECONDS), time.monotonic()
    sim = Simulator(processes, tools["sim"], ["--position", "%s,%s,%s" % PLACE])
    port = free_port()
    start_gpsd(processes, tools["gpsd"], sim.device, port, [], log)
    watch = Watch(port, deadline)
    watch.wait_for(is_tsip_device, "DEVICE with the TSIP driver", deadline)
    first_fix(watch, deadline, started)
    watch.close()


def nmea_at_4800(tools, processes, log):
    deadline, started = Deadline(CASE_WAIT_SECONDS), time.monotonic()
    sim = Simulator(processes, tools["sim"],
                    ["--baud", "4800", "--nmea", "--position", "%s,%s,%s" % PLACE])
    port = free_port()
    start_gpsd(processes, tools["gpsd"], sim.device, port, ["-s", "4800"], log)
    watch = Watch(port, deadline)
    first_fix(watch, deadline, started)
    watch.close()


def speed_change(tools, processes, log):
    """gpsctl reaches only the gpsd on its own port; when another gpsd holds that port, the
    test sends the request gpsctl would have sent through its own watch instead."""
    deadline, started = Deadline(CASE_WAIT_SECONDS * 2), time.monotonic()
    sim = Simulator(processes, tools["sim"], ["--position", "%s,%s,%s" % PLACE])
    use_gpsctl = port_is_free(GPSCTL_PORT)
    port = GPSCTL_PORT if use_gpsctl else free_port()
    start_gpsd(processes, tools["gpsd"], sim.device, port, [], log)
    watch = Watch(port, deadline)
    watch.wait_for(is_tsip_device, "DEVICE with the TSIP driver", deadline)
    first_fix(watch, deadline, started)
    if use_gpsctl:
        subprocess.run([tools["gpsctl"], "-s", "4800", sim.device], check=True,
                       timeout=deadline.left(), stdout=log, stderr=subprocess.STDOUT)
    else:
        print("  port %d is taken: sending gpsctl's request directly" % GPSCTL_PORT)
        watch.send('?DEVICE={"path":"%s","bps":4800}' % sim.device)
    sim.wait_for_settings("4800 8N1 TSIP", deadline)
    changed = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S")
    fix = watch.wait_for(lambda r: is_fix_here(r) and r["time"][:19] > changed,
                         "TPV of mode 3 after the speed change", deadline)
    print("  fix after the change to 4800: %s" % fix["time"])
    watch.send("?DEVICES;")
    devices = watch.wait_for(lambda r: r.get("class") == "DEVICES", "DEVICES", deadline)
    if [d.get("bps") for d in devices["devices"]] != [4800]:
        raise Failure("gpsd does not report 4800 bits/s: %s" % devices)
    watch.close()


def find_tools(sim_path):
    search = os.environ.get("PATH", "") + ":" + SBIN
    return {"sim": sim_path, "gpsd": shutil.which("gpsd", path=search),
            "gpsctl": shutil.which("gpsctl", path=search)}


def missing(reason):
    """The status without gpsd: skipped, or failed when KESTRUNE_REQUIRE_GPSD=1."""
    if os.environ.get("KESTRUNE_REQUIRE_GPSD") == "1":
        print("FAILED: " + reason + ", and KESTRUNE_REQUIRE_GPSD=1 requires them")
        return 1
    print("SKIPPED: " + reason)
    return SKIP_STATUS


def run_cases(cases, run):
    """Runs each named case as run(case, processes, log), stopping what it started however it
    ends; 0 when all hold, else 1 after printing the failure and what gpsd said."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped by SIGTERM"))
    with tempfile.TemporaryFile("w+") as log:
        for name, case in cases:
            print(name)
            processes = Processes()
            try:
                run(case, processes, log)
            except (Failure, subprocess.SubprocessError, OSError) as error:
                log.seek(0)
                print("FAILED: %s\n--- gpsd and its clients said:\n%s" % (error, log.read()[-4000:]))
                return 1
            finally:
                processes.stop_all()
            log.seek(0)
            log.truncate()
    return 0


def main():
    tools = find_tools(sys.argv[1])
    if tools["gpsd"] is None or tools["gpsctl"] is None:
        return missing("gpsd or gpsctl is not installed (Debian: gpsd gpsd-clients)")
    cases = [("TSIP at 9600", tsip_at_9600), ("NMEA at 4800, gpsd -s 4800", nmea_at_4800),
             ("TSIP at 9600, then gpsctl -s 4800", speed_change)]
    return run_cases(cases, lambda case, processes, log: case(tools, processes, log))


if __name__ == "__main__":
    sys.exit(main())
