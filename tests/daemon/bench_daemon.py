#!/usr/bin/env python3
"""Steady load of zylohostswd at the login screen with a session up.

Not part of the default test run. Use a Release build without sanitizers:

  cmake -S . -B build-daemon-rel -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build-daemon-rel -j2 --target zylohostswd zylo_cardsim zylo_cardsim_dev
  sudo ZYLOHOSTSWD_BIN=build-daemon-rel/bin/zylohostswd \\
       ZYLO_CARDSIM_BIN=build-daemon-rel/bin/zylo_cardsim \\
       python3 tests/daemon/bench_daemon.py [seconds]

Runs the daemon (isolated as in the end-to-end tests) for a minute, then
reports its CPU share (utime + stime from /proc/PID/stat over wall time, the
"who -u" children it waited for included) and its peak resident memory
(VmHWM).
"""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from daemon_support import DaemonCase  # noqa: E402

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # after the name: state is fields[0]; utime 14th, stime 15th, cutime 16th,
    # cstime 17th of the whole line
    utime, stime, cutime, cstime = (int(x) for x in fields[11:15])
    return utime + stime, cutime + cstime


def vm_hwm_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class Bench(DaemonCase):
    def runTest(self):
        self.write_config("DaemonLogFile=%s\nDaemonLogLevel=3\nDaemonStartDelay=0\n"
                          % self.log_path)
        self.ctl("session", "up", "--client", "sc")
        self.assertEqual(self.run_daemon().returncode, 0)
        pid = self.lock_pid()
        time.sleep(4)  # past the enable sequence
        hz = os.sysconf("SC_CLK_TCK")
        own0, kids0 = cpu_ticks(pid)
        t0 = time.monotonic()
        time.sleep(SECONDS)
        own1, kids1 = cpu_ticks(pid)
        wall = time.monotonic() - t0
        own = (own1 - own0) / hz / wall * 100.0
        kids = (kids1 - kids0) / hz / wall * 100.0
        hwm = vm_hwm_kib(pid)
        print("\nzylohostswd over %.0f s: CPU %.3f %% of one core (daemon), "
              "%.3f %% (its waited-for who -u children); peak RSS (VmHWM) %d KiB"
              % (wall, own, kids, hwm))
        self.assertTrue(self.alive(pid))


if __name__ == "__main__":
    r = unittest.TextTestRunner(verbosity=0).run(Bench())
    sys.exit(0 if r.wasSuccessful() else 1)
