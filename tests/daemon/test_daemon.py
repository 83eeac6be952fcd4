"""End-to-end scenarios of zylohostswd on the simulated card."""
import os
import signal
import stat
import time
import unittest

from daemon_support import (DaemonCase, LOCAL_COMMENT, LOCAL_X, REMOTE, find_key, req_u32)

ENABLE_SEQ = ["0x7821", "0x7900", "0x7902", "0x7909", "0x7911"]


class LoginScreen(DaemonCase):
    test_client_refusing_twenty_times = None  # see Refusal

    def enable_requests(self, since):
        return [e for e in self.sim_log(since) if e["code"] in ENABLE_SEQ]

    def assert_enable_sequence(self, since, t_start_us=None):
        self.assertTrue(self.wait_code("0x7911", since, 10), "no relative mode set")
        reqs = self.enable_requests(since)
        self.assertEqual(self.codes(reqs)[:5], ENABLE_SEQ)
        byc = {e["code"]: e for e in reqs}
        if t_start_us is not None:
            self.assertLess(byc["0x7821"]["t_us"] - t_start_us, 1.6e6)
        pause = (byc["0x7902"]["t_us"] - byc["0x7900"]["t_us"]) / 1e6
        self.assertGreater(pause, 1.9)
        self.assertLess(pause, 3.0)
        self.assertEqual(find_key(byc["0x7902"]["fields"], "en"), 1)
        self.assertEqual(find_key(byc["0x7909"]["fields"], "visible"), 0)
        self.assertEqual(find_key(byc["0x7911"]["fields"], "lcur_mode"), 1)
        self.assertLess(byc["0x7911"]["t_us"] - byc["0x7902"]["t_us"], 0.5e6)

    def test_sc_at_login_screen_and_daemon_life(self):
        with open(self.lock_path, "w") as f:
            f.write("123456789\n")  # an older, longer pid
        self.default_config()
        r = self.run_daemon()
        self.assertEqual(r.returncode, 0, r.stderr)
        pid = self.lock_pid()
        self.assertTrue(self.alive(pid))
        with open(self.lock_path) as f:
            self.assertEqual(f.read(), "%d\n" % pid)
        self.assertTrue(self.wait_log("zylohostswd daemon running!"))
        log = self.daemon_log()
        for line in ("success: level 4, file " + self.log_path,
                     "logfile %s level 4 daemon_en 1 Daemon dly 0" % self.log_path,
                     "sent signal 10 to parent process"):
            self.assertIn(line, log)

        seq = self.last_seq()
        t0 = self.sim_log(seq - 1)[-1]["t_us"] if seq else 0
        self.ctl("session", "up", "--client", "sc")
        self.assert_enable_sequence(seq, t0)
        self.assertIn("session start while login screen active", self.daemon_log())

        # A second daemon fails on the lock; its parent exits 1.
        r2 = self.run_daemon()
        self.assertEqual(r2.returncode, 1)
        self.assertIn("Unable to lock lockfile /var/run/zylohostswd.pid", self.daemon_log())
        self.assertEqual(self.lock_pid(), pid)

        # SIGHUP is ignored, SIGUSR1 ends it with status 0.
        os.kill(pid, signal.SIGHUP)
        time.sleep(0.3)
        self.assertTrue(self.alive(pid))
        os.kill(pid, signal.SIGUSR1)
        status = self.reap(pid)
        self.assertIsNotNone(status)
        self.assertTrue(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status)
        self.assertIn("signum=10 pid=%d" % pid, self.daemon_log())

    def test_zc_logins_and_logouts(self):
        self.ctl("session", "up", "--client", "zc")
        self.default_config()
        self.assertEqual(self.run_daemon().returncode, 0)
        pid = self.lock_pid()
        seq = self.last_seq()
        time.sleep(3)
        # A zero client at the login screen gets nothing, nor does a remote login.
        self.set_who(REMOTE)
        time.sleep(1.5)
        self.assertEqual([c for c in self.codes(self.sim_log(seq)) if c.startswith("0x79")], [])

        # A local login changes nothing; the logout switches the feature off.
        self.set_who(LOCAL_X + REMOTE)
        time.sleep(2)
        self.assertEqual([c for c in self.codes(self.sim_log(seq)) if c.startswith("0x79")], [])
        seq = self.last_seq()
        self.set_who(REMOTE)
        self.assertTrue(self.wait_code("0x7902", seq, 5))
        off = [e for e in self.sim_log(seq) if e["code"] == "0x7902"]
        # en=0 as sent; the card may refuse it (no cursor channel was opened
        # under a zero client), the daemon does not use the status.
        self.assertEqual(req_u32(off[0], 4), 0)
        self.assertIn("ZC logout while session active", self.daemon_log())

        # Logged in (comment-column display), a software client connects:
        # nothing; the logout brings the enable sequence.
        self.set_who(LOCAL_COMMENT)
        time.sleep(1.5)
        self.ctl("session", "down")
        self.ctl("session", "up", "--client", "sc")
        seq = self.last_seq()
        time.sleep(2)
        self.assertNotIn("0x7900", self.codes(self.sim_log(seq)))
        self.set_who("")
        self.assert_enable_sequence(seq)
        self.assertIn("SC logout while session active", self.daemon_log())

        # A who that cannot run after nobody counts as a login; the next
        # empty answer is a logout (enable again). With no session up, a
        # logout does nothing.
        self.set_who("", fail=True)
        time.sleep(1.5)
        seq = self.last_seq()
        self.set_who("")
        self.assert_enable_sequence(seq)
        self.assertIn("Unable to determine whether user logged in locally!", self.daemon_log())
        self.set_who(LOCAL_X)
        time.sleep(1.5)
        self.ctl("session", "down")
        seq = self.last_seq()
        self.set_who("")
        time.sleep(2.5)
        self.assertEqual([c for c in self.codes(self.sim_log(seq)) if c.startswith("0x79")], [])
        self.assertTrue(self.alive(pid))


class Refusal(LoginScreen):
    """The ~45 s case, a test entry of its own so that it runs in parallel."""

    test_sc_at_login_screen_and_daemon_life = None
    test_zc_logins_and_logouts = None

    def test_client_refusing_twenty_times(self):
        self.default_config()
        self.ctl("fail", "0x7902", "always")
        self.assertEqual(self.run_daemon().returncode, 0)
        seq = self.last_seq()
        self.ctl("session", "up", "--client", "sc")
        self.assertTrue(self.wait_code("0x7911", seq, 60))
        entries = self.sim_log(seq)
        self.assertEqual(self.codes(entries).count("0x7902"), 20)
        self.assertEqual(self.codes(entries).count("0x7900"), 20)
        last = [e for e in entries if e["code"] == "0x7911"]
        self.assertEqual(len(last), 1)
        self.assertEqual(find_key(last[0]["fields"], "lcur_mode"), 0)
        self.assertEqual(self.daemon_log().count("lcur_lkbd_enable() failed"), 20)


class StartUp(DaemonCase):
    def test_start_up_cases(self):
        bad_log = os.path.join(self.dir, "missing-dir", "x.log")
        cases = [
            # (name, config, user, exit status, log created, stderr text)
            ("not root", "NoSuchKey=1\nDaemonLogFile=%s\n" % self.log_path, 65534, 0, False,
             "The daemon must be run by root, exiting!"),
            ("disabled", "DaemonEnable=0\nDaemonLogFile=%s\n" % self.log_path, None, 0, False,
             "The zylohostswd daemon is disabled"),
            ("unopenable log", "DaemonLogFile=%s\n" % bad_log, None, 0, False,
             "Error opening logfile %s (ret -1)" % bad_log),
        ]
        for name, conf, user, rc, created, text in cases:
            with self.subTest(name):
                self.write_config(conf)
                r = self.run_daemon(user=user, with_sim=user is None)
                self.assertEqual(r.returncode, rc, r.stderr)
                self.assertIn(text, r.stderr)
                self.assertEqual(os.path.exists(self.log_path), created)
                self.assertEqual(self.lock_pid(), 0)
                if user is not None:  # the configuration was never read
                    self.assertNotIn("failed to find", r.stderr)
                    self.assertNotIn("config file", r.stderr)

    def test_started_by_init_still_forks_and_locks(self):
        # In a pid namespace whose init is a shell, the daemon's parent is
        # pid 1, as under a service manager; it must still detach, lock and
        # write its pid so that a forking service unit can track it.
        self.default_config()
        init = ('"$@"; rc=$?; sleep 1; echo "rc=$rc"; p=$(cat /run/zylohostswd.pid); '
                'echo "pid=$p"; kill -0 "$p" && echo alive')
        from daemon_support import NS_SCRIPT, CARDSIM, DAEMON
        cmd = ["unshare", "--mount", "--propagation", "private", "--pid", "--fork",
               "sh", "-c", NS_SCRIPT, "sh", self.dir, "sh", "-c", init, "sh",
               CARDSIM, "run", "--socket", self.sock, "--", DAEMON]
        import subprocess
        r = subprocess.run(cmd, capture_output=True, text=True, env=self.env, timeout=30)
        self.assertIn("rc=0", r.stdout, r.stderr)
        self.assertRegex(r.stdout, r"pid=\d+\n")
        self.assertIn("alive", r.stdout)
        self.assertIn("zylohostswd daemon running!", self.daemon_log())

    def test_log_levels_and_signals(self):
        # Level 9 is taken as 2: errors only. SIGALRM ends it with status 1.
        self.write_config("DaemonLogFile=%s\nDaemonLogLevel=9\nDaemonStartDelay=0\n"
                          "NoSuchKey=1\n" % self.log_path)
        r = self.run_daemon()
        self.assertEqual(r.returncode, 0, r.stderr)
        pid = self.lock_pid()
        self.assertTrue(self.alive(pid))
        st = os.stat(self.lock_path)
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o640)
        os.kill(pid, signal.SIGALRM)
        status = self.reap(pid)
        self.assertTrue(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 1, status)
        log = self.daemon_log()
        self.assertNotIn("[I]", log)
        self.assertNotIn("[D]", log)

        # Level 0: no log file at all; SIGTERM ends it.
        os.unlink(self.log_path) if os.path.exists(self.log_path) else None
        self.write_config("DaemonLogFile=%s\nDaemonLogLevel=0\nDaemonStartDelay=0\n"
                          % self.log_path)
        r = self.run_daemon()
        self.assertEqual(r.returncode, 0, r.stderr)
        pid = self.lock_pid()
        self.assertTrue(self.alive(pid))
        fd1 = os.readlink("/proc/%d/fd/1" % pid)
        fd2 = os.readlink("/proc/%d/fd/2" % pid)
        self.assertEqual((fd1, fd2), ("/dev/null", "/dev/null"))
        self.assertFalse(os.path.exists(self.log_path))
        os.kill(pid, signal.SIGTERM)
        status = self.reap(pid)
        self.assertTrue(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGTERM)


if __name__ == "__main__":
    unittest.main()
