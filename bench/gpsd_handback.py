#!/usr/bin/env python3
"""kestrunectl set on a port gpsd holds: the time set takes (gpsd letting go, the set itself and
the handback), and the time from the handback to gpsd's first fix at the new rate, seen through
gpspipe -w. Each run starts a fresh kestrune-sim at 9600 and a fresh gpsd.

    bench/gpsd_handback.py PATH_TO_KESTRUNE_SIM PATH_TO_KESTRUNECTL [RUNS]

Needs gpsd and gpsd-clients.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # leaves no cache beside the test
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
import gpsd_handover_test as handover  # noqa: E402  (found through the path above)
import gpsd_interop_test as interop  # noqa: E402

FIX_WAIT_SECONDS = 30


def first_fix_after(seen):
    return any(interop.is_fix_here(r) for r in seen)


def one_run(tools, folder, log):
    processes = interop.Processes()
    try:
        sim, sock_path, port = handover.start(tools, processes, folder, log)
        started = time.monotonic()
        subprocess.run([tools["ctl"], "-q", "--gpsd-socket", sock_path, "-p", sim.device]
                       + handover.SET_ARGS, check=True, capture_output=True,
                       timeout=handover.CASE_SECONDS)
        handed_back = time.monotonic()
        handover.gpspipe_until(tools, port, first_fix_after, FIX_WAIT_SECONDS)
        return handed_back - started, time.monotonic() - handed_back
    finally:
        processes.stop_all()


def main():
    tools = interop.find_tools(sys.argv[1])
    tools["ctl"] = sys.argv[2]
    tools["gpspipe"] = shutil.which("gpspipe")
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    if tools["gpsd"] is None or tools["gpspipe"] is None:
        print("gpsd and gpspipe are needed (Debian: gpsd gpsd-clients)")
        return 1
    sets, fixes = [], []
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryFile("w+") as log:
        for _ in range(runs):
            set_seconds, fix_seconds = one_run(tools, folder, log)
            sets.append(set_seconds)
            fixes.append(fix_seconds)
    print("set --baud 38400 on a port gpsd holds, %d runs" % runs)
    print("  set, gpsd letting go to handback: median %.2f s (%.2f to %.2f)"
          % (statistics.median(sets), min(sets), max(sets)))
    print("  handback to gpsd's first fix:     median %.2f s (%.2f to %.2f)"
          % (statistics.median(fixes), min(fixes), max(fixes)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
