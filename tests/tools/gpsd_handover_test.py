#!/usr/bin/env python3
"""kestrunectl borrows a port from gpsd and hands it back.

Starts kestrune-sim on a pseudo-terminal and `gpsd -N -n` on it with a control socket in a
temporary folder, then, one case after another:
  - `kestrunectl --gpsd-socket SOCKET set --baud 38400`: gpsd lets go, the receiver moves to
    38400, and within 5 s of the handback gpspipe -w shows gpsd's DEVICE at 38400 and a TPV of
    mode 3 at the simulator's place;
  - the same set stopped by SIGINT once gpsd has let go: kestrunectl exits 130, and gpsd lists
    the device again.
Each case ends with gpsd holding the device, whatever failed. Exits 0 when all hold, 1 when one
does not, and SKIP_STATUS without gpsd (unless KESTRUNE_REQUIRE_GPSD=1, where it fails).

    gpsd_handover_test.py PATH_TO_KESTRUNE_SIM PATH_TO_KESTRUNECTL
"""

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

sys.dont_write_bytecode = True  # leaves no cache beside the test
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gpsd_interop_test as interop  # noqa: E402  (found through the path above)

# gpsd on its new settings: the DEVICE and a fix, from the moment the device is back.
HANDBACK_SECONDS = 5
# gpsd's start, the set (a reset that a pseudo-terminal cannot carry, the search and the check)
# and the handback, on a busy machine.
CASE_SECONDS = 25
# How long the interrupted set runs once gpsd has let go: inside its search.
INTERRUPT_AFTER_SECONDS = 1
SET_ARGS = ["set", "--baud", "38400"]


def control(sock_path, line):
    with socket.socket(socket.AF_UNIX) as sock:
        sock.settimeout(3)
        sock.connect(sock_path)
        sock.sendall(line.encode() + b"\r\n")
        return sock.recv(64).decode().strip()


def start(tools, processes, folder, log):
    # kestrune-sim, and gpsd on it once it has identified the receiver.
    deadline = interop.Deadline(interop.CASE_WAIT_SECONDS)
    sim = interop.Simulator(processes, tools["sim"], ["--position", "%s,%s,%s" % interop.PLACE])
    if os.geteuid() == 0:
        os.chmod(sim.device, 0o666)  # gpsd opens it again after dropping root
    sock_path = tempfile.mktemp(suffix=".sock", dir=folder)
    port = interop.free_port()
    interop.start_gpsd(processes, tools["gpsd"], sim.device, port, ["-F", sock_path], log)
    watch = interop.Watch(port, deadline)
    watch.wait_for(interop.is_tsip_device, "DEVICE with the TSIP driver", deadline)
    watch.close()
    return sim, sock_path, port


def hand_back_anyway(sock_path, device, port):
    # gpsd answers ERROR for a device it has already, so the listing alone decides.
    answer = control(sock_path, "+" + device)
    deadline = interop.Deadline(interop.CASE_WAIT_SECONDS)
    watch = interop.Watch(port, deadline)
    watch.send("?DEVICES;")
    devices = watch.wait_for(lambda r: r.get("class") == "DEVICES", "DEVICES", deadline)
    watch.close()
    if device not in [d.get("path") for d in devices["devices"]]:
        raise interop.Failure("gpsd does not hold %s at the end: %s, %s" % (device, answer, devices))


def gpspipe_until(tools, port, accept, seconds):
    pipe = subprocess.Popen([tools["gpspipe"], "-w", "127.0.0.1:%d" % port],
                            stdout=subprocess.PIPE, preexec_fn=interop.die_with_parent)
    seen, deadline = [], interop.Deadline(seconds)
    try:
        fd = pipe.stdout.fileno()
        pending = b""
        while deadline.left() > 0:
            ready = select.select([fd], [], [], deadline.left())[0]
            chunk = os.read(fd, 65536) if ready else b""
            if not chunk:
                break
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                report = json.loads(line)
                seen.append(report)
                if accept(seen):
                    return seen
    finally:
        pipe.terminate()
        pipe.wait()
    raise interop.Failure("gpspipe -w showed within %d s: %s" % (seconds, seen[-12:]))


def devices_in(report):
    # gpsd sends a new watcher the DEVICES list first, and a DEVICE on each change.
    if report.get("class") == "DEVICES":
        return report.get("devices", [])
    return [report] if report.get("class") == "DEVICE" else []


def fixes_at_38400(seen):
    return (any(d.get("bps") == 38400 for r in seen for d in devices_in(r))
            and any(interop.is_fix_here(r) for r in seen))


def set_38400(tools, sim, sock_path, port):
    run = subprocess.run([tools["ctl"], "--gpsd-socket", sock_path, "-p", sim.device] + SET_ARGS,
                         capture_output=True, text=True, timeout=CASE_SECONDS)
    handed_back = time.monotonic()
    if run.returncode != 0 or "gpsd let go of " + sim.device not in run.stderr \
            or "gpsd has %s back" % sim.device not in run.stderr:
        raise interop.Failure("kestrunectl exited %d: %s%s" % (run.returncode, run.stdout,
                                                               run.stderr))
    gpspipe_until(tools, port, fixes_at_38400, HANDBACK_SECONDS)
    print("  DEVICE at 38400 and a fix %.1f s after the handback"
          % (time.monotonic() - handed_back))


def interrupted_set(tools, sim, sock_path, port):
    ctl = subprocess.Popen([tools["ctl"], "--gpsd-socket", sock_path, "-p", sim.device]
                           + SET_ARGS, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                           text=True, preexec_fn=interop.die_with_parent)
    first = ctl.stderr.readline()
    if "gpsd let go of" not in first:
        ctl.kill()
        raise interop.Failure("kestrunectl did not borrow the port: %r" % first)
    time.sleep(INTERRUPT_AFTER_SECONDS)
    ctl.send_signal(signal.SIGINT)
    rest = ctl.stderr.read()
    status = ctl.wait(CASE_SECONDS)
    if status != 130 or "gpsd has %s back" % sim.device not in rest:
        raise interop.Failure("interrupted kestrunectl exited %d: %s" % (status, first + rest))


def main():
    tools = interop.find_tools(sys.argv[1])
    tools["ctl"] = sys.argv[2]
    tools["gpspipe"] = shutil.which("gpspipe")
    if tools["gpsd"] is None or tools["gpspipe"] is None:
        return interop.missing("gpsd or gpspipe is not installed (Debian: gpsd gpsd-clients)")
    cases = [("set --baud 38400 on a port gpsd holds", set_38400),
             ("the same, interrupted", interrupted_set)]
    with tempfile.TemporaryDirectory() as folder:
        def run(case, processes, log):
            sim, sock_path, port = start(tools, processes, folder, log)
            try:
                case(tools, sim, sock_path, port)
            finally:
                hand_back_anyway(sock_path, sim.device, port)
        return interop.run_cases(cases, run)


if __name__ == "__main__":
    sys.exit(main())
