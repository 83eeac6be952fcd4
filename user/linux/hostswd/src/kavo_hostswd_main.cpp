/*
 * zylohostswd: the login-screen daemon. Run by root at system start; takes
 * no arguments. Everything it logs, the link layer included, goes to
 * standard error, which points at its log file once logging is set up.
 */
#include <signal.h>
#include <unistd.h>

#include "kavo_hostswd.h"

/* Everything before the supervision loop; 0 when the loop should run. */
static int hostswd_start(sKAVO_HOSTSW_DAEMON_CONFIG *config)
{
    if (getuid() != 0) {
        KAVO_LOG_E("The daemon must be run by root, exiting!");
        return -1;
    }
    get_config(config);
    if (config->enable == 0) {
        KAVO_LOG_I("The zylohostswd daemon is disabled");
        return -1;
    }
    if (init_logging(config->log_level, config->log_file) == -1) {
        KAVO_LOG_E("init_logging() failed, exiting!");
        return -1;
    }
    dump_config(config);
    daemonize();
    KAVO_LOG_I("zylohostswd daemon running!");
    signal(SIGCHLD, SIG_IGN);
    return 0;
}

int main(void)
{
    kavo_log_set_stream(stderr);
    m_log_level = KAVO_LOG_INFO;

    sKAVO_HOSTSW_DAEMON_CONFIG config = {};
    cKAVO_ZYLO_LINK link;

    if (hostswd_start(&config) != 0)
        return 0; /* the link closes both nodes on the way out */
    supervise(link, config.start_delay);
}
