#!/usr/bin/env python3
"""kestrune-sim as gpsd sees it: the bytes per second of its periodic TSIP output at 9600 bits/s,
read straight off its pseudo-terminal, and gpsd's time from start to its first TPV of mode 3.

    bench/sim_with_gpsd.py PATH_TO_KESTRUNE_SIM [RUNS]

Needs gpsd (Debian: gpsd gpsd-clients); the bytes are measured without it.
"""

import os
import statistics
import sys
import termios
import time

sys.dont_write_bytecode = True  # leaves no cache beside the test
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
import gpsd_interop_test as interop  # noqa: E402  (found through the path above)

SAMPLE_SECONDS = 10


def bytes_per_second(sim_path):
    """Opens the device raw at 9600 8N1, as a host would, and counts what arrives."""
    processes = interop.Processes()
    try:
        sim = interop.Simulator(processes, sim_path, [])
        fd = os.open(sim.device, os.O_RDONLY | os.O_NOCTTY)
        attrs = termios.tcgetattr(fd)
        attrs[0] = attrs[1] = attrs[3] = 0  # raw: no input, output or local processing
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
        attrs[4] = attrs[5] = termios.B9600
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
        time.sleep(1.5)  # past the first report, which may have been half lost
        termios.tcflush(fd, termios.TCIFLUSH)
        count, end = 0, time.monotonic() + SAMPLE_SECONDS
        while time.monotonic() < end:
            count += len(os.read(fd, 4096))
        os.close(fd)
        return count / SAMPLE_SECONDS
    finally:
        processes.stop_all()


def first_fix_seconds(tools, log):
    processes = interop.Processes()
    try:
        deadline, started = interop.Deadline(interop.CASE_WAIT_SECONDS), time.monotonic()
        sim = interop.Simulator(processes, tools["sim"], ["--position", "%s,%s,%s" % interop.PLACE])
        port = interop.free_port()
        interop.start_gpsd(processes, tools["gpsd"], sim.device, port, [], log)
        watch = interop.Watch(port, deadline)
        watch.wait_for(interop.is_fix_here, "TPV of mode 3", deadline)
        watch.close()
        return time.monotonic() - started
    finally:
        processes.stop_all()


def main():
    sim_path, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5
    print("periodic TSIP output at 9600 bits/s: %.1f bytes/s" % bytes_per_second(sim_path))
    tools = interop.find_tools(sim_path)
    if tools["gpsd"] is None:
        print("gpsd is not installed: no time to first fix")
        return
    with open(os.devnull, "w") as log:
        times = [first_fix_seconds(tools, log) for _ in range(runs)]
    print("gpsd start to first mode-3 TPV over %d runs: median %.2f s, %.2f to %.2f s"
          % (runs, statistics.median(times), min(times), max(times)))


if __name__ == "__main__":
    main()
