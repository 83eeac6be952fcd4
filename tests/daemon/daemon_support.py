"""Runs zylohostswd for real (fork, lock, log) against a private card simulator.

Isolation: every daemon runs in a private mount namespace
(`unshare --mount --propagation private`). Inside it
  * the host's /etc is bind-mounted to <tmp>/etc_host and <tmp>/etc, a
    directory of symlinks to every entry of it plus the test's own
    zylohostswd.conf (or none), is bind-mounted over /etc: the daemon reads
    "/etc/zylohostswd.conf" from the test, everything else of /etc stays as
    it is;
  * <tmp>/run is bind-mounted over /run (/var/run is a symlink to /run), so
    the lock file lands in <tmp>/run/zylohostswd.pid.
The mounts vanish with the last process of the namespace; the host's
configuration, lock file and log are never touched. The log file path is set
in the test's configuration to <tmp>/daemon.log.

The test process makes itself a child subreaper, so a daemon that detaches is
reparented to it: its exit status can be collected, and it is killed by the
pid read from its own lock file, never by name.
"""
import ctypes
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

DAEMON = os.environ.get("ZYLOHOSTSWD_BIN", "")
CARDSIM = os.environ.get("ZYLO_CARDSIM_BIN", "")

PR_SET_CHILD_SUBREAPER = 36
ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)

# Inside the namespace: private /etc and /run, then the simulator's preload.
NS_SCRIPT = r'''
set -e
t="$1"; shift
mkdir -p "$t/etc" "$t/etc_host"
mount --bind /etc "$t/etc_host"
for f in /etc/* /etc/.[!.]*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    n=${f#/etc/}
    [ "$n" = zylohostswd.conf ] && continue
    ln -sfn "$t/etc_host/$n" "$t/etc/$n"
done
if [ -f "$t/zylohostswd.conf" ]; then cp "$t/zylohostswd.conf" "$t/etc/zylohostswd.conf"; fi
mount --bind "$t/etc" /etc
mount --bind "$t/run" /run
export PATH="$t/bin:$PATH"
exec "$@"
'''

WHO_SCRIPT = '''#!/bin/sh
[ -e "{d}/who.fail" ] && exit 127
cat "{d}/who.txt"
'''

LOCAL_X = "alice    :0           2026-12-10 23:01   ?          1234\n"
LOCAL_COMMENT = "alice    tty7         2026-12-10 23:01  old         1234 (:0)\n"
REMOTE = "bob      pts/0        2026-12-10 23:05   .          4321 (host.example.org)\n"


def find_key(obj, key):
    """The first value of `key` anywhere in a decoded JSON object."""
    if isinstance(obj, dict):
        if key in obj:
            return obj[key]
        for v in obj.values():
            r = find_key(v, key)
            if r is not None:
                return r
    elif isinstance(obj, list):
        for v in obj:
            r = find_key(v, key)
            if r is not None:
                return r
    return None


def req_u32(entry, offset):
    """A little-endian UINT32 of the request record as the program sent it."""
    raw = bytes.fromhex(entry["req"])
    return int.from_bytes(raw[offset:offset + 4], "little")


class DaemonCase(unittest.TestCase):
    def setUp(self):
        if not DAEMON or not CARDSIM:
            self.skipTest("ZYLOHOSTSWD_BIN / ZYLO_CARDSIM_BIN not set")
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root and unshare")
        self.dir = tempfile.mkdtemp(prefix="zylohostswd-e2e-")
        os.chmod(self.dir, 0o755)
        for d in ("run", "bin"):
            os.mkdir(os.path.join(self.dir, d))
        self.who_path = os.path.join(self.dir, "bin", "who")
        with open(self.who_path, "w") as f:
            f.write(WHO_SCRIPT.format(d=self.dir))
        os.chmod(self.who_path, 0o755)
        self.set_who("")
        self.log_path = os.path.join(self.dir, "daemon.log")
        self.lock_path = os.path.join(self.dir, "run", "zylohostswd.pid")
        self.sock = os.path.join(self.dir, "sim.sock")
        self.env = dict(os.environ)
        self.env["ASAN_OPTIONS"] = "detect_leaks=0"
        self.sim = subprocess.Popen([CARDSIM, "serve", "--socket", self.sock],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(self.sock):
                break
            time.sleep(0.05)
        self.daemons = []

    def tearDown(self):
        for pid in self.daemons:
            self.stop_daemon(pid)
        self.sim.terminate()
        try:
            self.sim.wait(5)
        except subprocess.TimeoutExpired:
            self.sim.kill()
            self.sim.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    # ---- the login state as "who -u" shows it ----
    def set_who(self, text, fail=False):
        fail_path = os.path.join(self.dir, "who.fail")
        if fail:
            open(fail_path, "w").close()
        elif os.path.exists(fail_path):
            os.unlink(fail_path)
        tmp = os.path.join(self.dir, "who.tmp")
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, os.path.join(self.dir, "who.txt"))

    # ---- the simulator ----
    def ctl(self, *args, check=True):
        r = subprocess.run([CARDSIM, "ctl", "--socket", self.sock] + list(args),
                           capture_output=True, text=True, timeout=60)
        if check:
            self.assertEqual(r.returncode, 0, "ctl %s: %s" % (args, r.stderr))
        return r

    def sim_log(self, since=0):
        r = self.ctl("log", "--since", str(since))
        return [json.loads(l) for l in r.stdout.splitlines() if l.strip()]

    def last_seq(self):
        log = self.sim_log()
        return log[-1]["seq"] if log else 0

    def wait_code(self, code, since, timeout):
        r = self.ctl("wait", code, "--since", str(since), "--timeout", str(timeout), check=False)
        return r.returncode == 0

    @staticmethod
    def codes(entries):
        return [e["code"] for e in entries]

    # ---- the daemon ----
    def write_config(self, text):
        with open(os.path.join(self.dir, "zylohostswd.conf"), "w") as f:
            f.write(text)

    def default_config(self, extra=""):
        self.write_config("DaemonLogFile=%s\nDaemonLogLevel=4\nDaemonStartDelay=0\n%s"
                          % (self.log_path, extra))

    def run_daemon(self, user=None, with_sim=True):
        """Starts a daemon in its own namespace; returns the finished start
        command (the parent's exit status and standard error)."""
        cmd = [DAEMON]
        if with_sim:
            cmd = [CARDSIM, "run", "--socket", self.sock, "--"] + cmd
        if user is not None:
            cmd = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + cmd
        cmd = ["unshare", "--mount", "--propagation", "private", "sh", "-c", NS_SCRIPT,
               "sh", self.dir] + cmd
        r = subprocess.run(cmd, capture_output=True, text=True, env=self.env, timeout=30)
        pid = self.lock_pid()
        if pid and self.alive(pid) and pid not in self.daemons:
            self.daemons.append(pid)
        return r

    def lock_pid(self):
        try:
            with open(self.lock_path) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            return 0

    @staticmethod
    def alive(pid):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                return b"zylohostswd" in f.read()
        except OSError:
            return False

    def reap(self, pid, timeout=5.0):
        """Exit status of a detached daemon (reparented to this process)."""
        end = time.time() + timeout
        while time.time() < end:
            try:
                p, status = os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                return None
            if p == pid:
                return status
            time.sleep(0.05)
        return None

    def stop_daemon(self, pid):
        if self.alive(pid):
            os.kill(pid, signal.SIGTERM)
        self.reap(pid)
        if pid in self.daemons:
            self.daemons.remove(pid)

    def daemon_log(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def wait_log(self, text, timeout=5.0):
        end = time.time() + timeout
        while time.time() < end:
            if text in self.daemon_log():
                return True
            time.sleep(0.1)
        return False
