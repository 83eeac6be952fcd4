/*
 * Logging to the daemon's own file and turning into a background process
 * that holds "/var/run/zylohostswd.pid" locked for its whole life.
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kavo_hostswd.h"

int init_logging(UINT32 level, const char *path)
{
    if (level > KAVO_LOG_DEBUG) {
        m_log_level = KAVO_LOG_ERROR;
    } else if (level == KAVO_LOG_NONE) {
        m_log_level = KAVO_LOG_NONE;
        return 0;
    } else {
        m_log_level = (int)level;
    }

    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (fd < 0) {
        KAVO_LOG_E("Error opening logfile %s (ret %d)", path, -1);
        return -1;
    }
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    if (fd != STDOUT_FILENO && fd != STDERR_FILENO)
        close(fd);

    KAVO_LOG_I("success: level %d, file %s", (int)level, path);
    return 0;
}

void daemon_handler(int signum)
{
    KAVO_LOG_I("daemon_handler(): signum=%d pid=%d", signum, (int)getpid());
    if (signum == SIGHUP)
        return;
    exit(signum == SIGUSR1 ? 0 : 1);
}

int lock_file_write_pid(int fd, long pid)
{
    char text[32];
    int len = snprintf(text, sizeof(text), "%ld\n", pid);

    if (pwrite(fd, text, (size_t)len, 0) != len)
        return -1;
    /* An older, longer pid must not leave its tail behind. */
    if (ftruncate(fd, len) != 0)
        return -1;
    return 0;
}

static void daemon_fail(const char *what, const char *arg)
{
    int err = errno;
    if (arg)
        KAVO_LOG_E("%s %s, code %d (%s)", what, arg, err, strerror(err));
    else
        KAVO_LOG_E("%s, code %d (%s)", what, err, strerror(err));
    exit(1);
}

static void daemon_lock(void)
{
    int fd = open(KAVO_HOSTSWD_LOCK_FILE, O_RDWR | O_CREAT, 0640);
    if (fd < 0)
        daemon_fail("Unable to open lockfile", KAVO_HOSTSWD_LOCK_FILE);
    if (lockf(fd, F_TLOCK, 0) < 0)
        daemon_fail("Unable to lock lockfile", KAVO_HOSTSWD_LOCK_FILE);
    if (lock_file_write_pid(fd, (long)getpid()) != 0)
        KAVO_LOG_E("Unable to write pid to lockfile %s, code %d (%s)", KAVO_HOSTSWD_LOCK_FILE,
                   errno, strerror(errno));
    /* fd stays open: the lock lasts as long as the process. */
}

static void daemon_parent_wait(void)
{
    /* SIGUSR1 from the child exits 0; SIGCHLD or the alarm exit 1. */
    alarm(2);
    for (;;)
        pause();
}

static void daemon_set_signals(void)
{
    signal(SIGCHLD, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGTSTP, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
}

static void daemon_reopen_std(void)
{
    if (!freopen("/dev/null", "r", stdin))
        KAVO_LOG_E("Unable to reopen standard input on /dev/null");
    if (m_log_level == KAVO_LOG_NONE) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            return;
    }
}

/*
 * The daemon forks even when init started it: under a service manager that
 * tracks forking services by their pid file, the starter must exit once the
 * child holds the lock, and a copy that never forked would hold no lock and
 * write no pid at all.
 */
void daemonize(void)
{
    signal(SIGCHLD, daemon_handler);
    signal(SIGUSR1, daemon_handler);
    signal(SIGALRM, daemon_handler);
    signal(SIGTERM, daemon_handler);
    signal(SIGHUP, daemon_handler);

    pid_t pid = fork();
    if (pid < 0) {
        KAVO_LOG_E("Unable to fork daemon, code=%d (%s)", errno, strerror(errno));
        exit(1);
    }
    if (pid > 0)
        daemon_parent_wait();

    pid_t parent = getppid();
    daemon_lock();
    daemon_set_signals();

    umask(0);
    if (setsid() < 0)
        daemon_fail("Unable to create a new session", NULL);
    if (chdir("/") < 0)
        daemon_fail("Unable to change directory to", "/");
    daemon_reopen_std();

    kill(parent, SIGUSR1);
    KAVO_LOG_I("sent signal %d to parent process", SIGUSR1);
}
