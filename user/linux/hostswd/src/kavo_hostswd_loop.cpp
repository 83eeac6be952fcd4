/*
 * The supervision loop: once a second the session link heartbeat and a
 * login poll; at the login screen a software client gets its local cursor
 * switched on in relative mode, a zero client gets it switched off when the
 * local user logs out under its session.
 */
#include <unistd.h>

#include "kavo_hostswd.h"

int update_driver_cfg(cKAVO_ZYLO_LINK &link, eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE mode)
{
    if (link.kmp_driver_cfg_set(mode) != 0) {
        KAVO_LOG_E("failed to configure cursor mode %d in driver", (int)mode);
        return 0;
    }
    return 1;
}

void disable_local_cursor(cKAVO_ZYLO_LINK &link)
{
    link.lcur_lkbd_disable();
}

/* One attempt: 1 done, 0 failed before the driver step (cursor channel,
 * feature or hiding), 2 only the driver step failed. */
static int enable_attempt(cKAVO_ZYLO_LINK &link)
{
    if (link.hdc_open() != 0) {
        KAVO_LOG_E("hdc_open() failed");
        return 0;
    }
    sleep(2);
    if (link.lcur_lkbd_enable() != 0) {
        KAVO_LOG_E("lcur_lkbd_enable() failed");
        return 0;
    }
    int hidden = link.lcur_pointer_visibility_set(0, 0) == 0;
    if (!hidden)
        KAVO_LOG_E("failed to hide local cursor");
    int relative = update_driver_cfg(link, KAVO_ZYLO_LINK_LCUR_REL_ALG);
    if (!hidden)
        return 0;
    return relative ? 1 : 2;
}

int enable_local_cursor_with_relative_reports(cKAVO_ZYLO_LINK &link)
{
    int rc = 0;

    for (int i = 0; i < KAVO_HOSTSWD_ENABLE_ATTEMPTS; i++) {
        rc = enable_attempt(link);
        if (rc == 1)
            return 1;
    }
    if (rc == 2)
        return 1;
    update_driver_cfg(link, KAVO_ZYLO_LINK_LCUR_ABS_ALG);
    return 0;
}

static void on_logout(cKAVO_ZYLO_LINK &link, const sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sl)
{
    if (!(sl->flags & KAVO_ZYLO_SESS_LINK_FLAG_UP))
        return;
    if (link.is_client_sc()) {
        KAVO_LOG_D("Enable local cursor in relative mode: SC logout while session active");
        enable_local_cursor_with_relative_reports(link);
    } else {
        KAVO_LOG_D("Disable local cursor: ZC logout while session active");
        disable_local_cursor(link);
    }
}

void supervise_pass(cKAVO_ZYLO_LINK &link, int *kept_state, int poll, INT sess_link_change,
                    const sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link)
{
    if (poll != *kept_state) {
        if (*kept_state == 0) {
            *kept_state = 1; /* a user logged in: the agent takes over */
            return;
        }
        *kept_state = 0;
        on_logout(link, sess_link);
        return;
    }
    if (poll == 0 && sess_link_change && (sess_link->flags & KAVO_ZYLO_SESS_LINK_FLAG_UP) &&
        link.is_client_sc()) {
        KAVO_LOG_D("Enable local cursor in relative mode: session start while login screen "
                   "active");
        enable_local_cursor_with_relative_reports(link);
    }
}

void supervise(cKAVO_ZYLO_LINK &link, UINT32 start_delay)
{
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sess_link = {};
    int kept_state = is_user_logged_in_locally();

    sleep(start_delay);
    link.start();
    for (;;) {
        INT change = 0;
        link.link_heartbeat(&change, &sess_link);
        int poll = is_user_logged_in_locally();
        supervise_pass(link, &kept_state, poll, change, &sess_link);
        sleep(1);
    }
}
