/*
 * Is anybody logged in on the local graphical display? Answered from the
 * output of "who -u": a second column like ":0" or a comment like "(:0)".
 */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include "kavo_hostswd.h"

int who_line_is_local_login(const char *line)
{
    char user[KAVO_HOSTSWD_WHO_LINE_LEN];
    int display = 0;

    /* The user buffer is as long as the line, and the width says so. */
    if (sscanf(line, "%499s :%d", user, &display) == 2) {
        KAVO_LOG_D("user %s logged in locally :%d", user, display);
        return 1;
    }
    if (strstr(line, " (:")) {
        KAVO_LOG_D("user logged in locally");
        return 1;
    }
    return 0;
}

static int who_scan(FILE *who)
{
    char line[KAVO_HOSTSWD_WHO_LINE_LEN];

    while (fgets(line, sizeof(line), who)) {
        line[strcspn(line, "\n")] = '\0';
        KAVO_LOG_D("'who -u' data: %s", line);
        if (who_line_is_local_login(line))
            return 1;
    }
    return 0;
}

int is_user_logged_in_locally(void)
{
    /* The daemon ignores SIGCHLD; while "who -u" runs the default action is
     * back so that pclose() can collect its exit status. */
    void (*old_chld)(int) = signal(SIGCHLD, SIG_DFL);

    FILE *who = popen("who -u", "r");
    if (!who) {
        KAVO_LOG_E("popen() failed, code=%d (%s)", errno, strerror(errno));
        KAVO_LOG_E("Unable to determine whether user logged in locally!");
        signal(SIGCHLD, old_chld);
        return -1;
    }

    int logged_in = who_scan(who);
    int status = pclose(who);
    signal(SIGCHLD, old_chld);

    if (status == -1) {
        if (errno != ECHILD)
            KAVO_LOG_E("pclose() failed, code=%d (%s)", errno, strerror(errno));
        return logged_in;
    }
    /* A command that could not run (missing, not executable) or failed
     * answers nothing: without a login line that is not "nobody". */
    if (!logged_in && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        KAVO_LOG_E("'who -u' failed (status 0x%x)", (unsigned)status);
        KAVO_LOG_E("Unable to determine whether user logged in locally!");
        return -1;
    }
    return logged_in;
}
