/* HMI variables: link information, IPv4 settings, session link, statistics,
 * session disconnect and the driver's local variable. */
#include <string.h>

#include "kavo_log.h"
#include "kavo_zylo_link.h"

/*
 * Reads variable `var` into the caller's `rec` of `rec_len` bytes. The
 * caller's record is written only on success.
 */
INT32 cKAVO_ZYLO_LINK::hmi_var_get(UINT32 var, void *rec, UINT32 rec_len,
                                   sKAVO_ZYLO_HCC_APDU_HMI_VAR *buf)
{
    memset(buf, 0, sizeof(*buf));
    buf->var = var;
    INT32 rv = m_hcc_dev.synch_ioctl(HCC_IOCTL_HMI_VAR_GET, buf, sizeof(*buf),
                                     KAVO_DEV_TIMEOUT_DEFAULT);
    if (rv == KAVO_OK)
        memcpy(rec, buf->data.raw, rec_len);
    return rv;
}

INT32 cKAVO_ZYLO_LINK::link_info_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO *link_info)
{
    KAVO_LOG_D("start");
    if (!link_info) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (link_info_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    INT32 rv = hmi_var_get(KAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO, link_info, sizeof(*link_info),
                           &buf);
    if (rv)
        KAVO_LOG_E("HCC_IOCTL_HMI_VAR_GET ioctl failed (ret=%d)", rv);
    KAVO_LOG_D("end");
    return rv;
}

INT32 cKAVO_ZYLO_LINK::ipv4_cfg_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG *ipv4_cfg)
{
    KAVO_LOG_D("start");
    if (!ipv4_cfg) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (ipv4_cfg_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    INT32 rv = hmi_var_get(KAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG, ipv4_cfg, sizeof(*ipv4_cfg), &buf);
    if (rv)
        KAVO_LOG_E("KAVO_ZYLO_HCC_IOCTL_HMI_VAR_GET ioctl failed %d", rv);
    KAVO_LOG_D("end");
    return rv;
}

INT32 cKAVO_ZYLO_LINK::sess_link_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link)
{
    if (!sess_link) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (sess_link_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    INT32 rv = hmi_var_get(KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK, sess_link, sizeof(*sess_link),
                           &buf);
    if (rv)
        KAVO_LOG_E("KAVO_ZYLO_HCC_IOCTL_HMI_VAR_GET ioctl failed %d", rv);
    return rv;
}

INT32 cKAVO_ZYLO_LINK::sess_stat_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT *sess_stat)
{
    if (!sess_stat) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (sess_stat_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    INT32 rv = hmi_var_get(KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT, sess_stat, sizeof(*sess_stat),
                           &buf);
    if (rv)
        KAVO_LOG_E("HCC_IOCTL_HMI_VAR_GET ioctl failed (ret=%d)", rv);
    return rv;
}

/* Sends a zero-filled variable record of `var`, with `fill` at the start of
 * its data, by the set request. */
static INT32 hmi_var_set(cKAVO_DEV &dev, UINT32 var, const void *fill, size_t fill_len)
{
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    memset(&buf, 0, sizeof(buf));
    buf.var = var;
    if (fill_len)
        memcpy(buf.data.raw, fill, fill_len);
    return dev.synch_ioctl(HCC_IOCTL_HMI_VAR_SET, &buf, sizeof(buf), KAVO_DEV_TIMEOUT_DEFAULT);
}

INT32 cKAVO_ZYLO_LINK::sess_stat_reset()
{
    KAVO_LOG_D("start");
    if (sess_stat_reset_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    INT32 rv = hmi_var_set(m_hcc_dev, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT, NULL, 0);
    if (rv)
        KAVO_LOG_E("KAVO_ZYLO_HCC_IOCTL_HMI_VAR_SET ioctl failed %d", rv);
    KAVO_LOG_D("end");
    return rv;
}

/*
 * Ends the session: with the cause through the session-disconnect variable
 * when the card offers it, else (or when that is rejected) by setting the
 * session link down.
 */
INT32 cKAVO_ZYLO_LINK::sess_link_disc(UINT32 reason)
{
    INT32 rv;
    if (sess_link_disc_with_reason_avail() == KAVO_OK) {
        sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_DISC disc;
        disc.reason_cause = reason;
        rv = hmi_var_set(m_hcc_dev, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_DISC, &disc, sizeof(disc));
        if (rv == KAVO_OK) {
            KAVO_LOG_D("disconnected session link by setting SESS_DISC");
            return KAVO_OK;
        }
        KAVO_LOG_E("HCC_IOCTL_HMI_VAR_SET ioctl failed %d", rv);
    }
    if (sess_link_disc_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    rv = hmi_var_set(m_hcc_dev, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK, NULL, 0);
    if (rv) {
        KAVO_LOG_E("HCC_IOCTL_HMI_VAR_SET ioctl failed %d", rv);
        return rv;
    }
    KAVO_LOG_D("disconnected session link by setting SESS_LINK");
    return KAVO_OK;
}

INT32 cKAVO_ZYLO_LINK::local_info_get(UINT32 *dev_type)
{
    if (!dev_type) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    sKAVO_ZYLO_HMI_LOCAL_VAR buf;
    memset(&buf, 0, sizeof(buf));
    buf.var = KAVO_ZYLO_HMI_LOCAL_VAR_LOCAL_INFO;
    INT32 rv = m_hcc_dev.synch_ioctl(HCC_IOCTL_HMI_LOCAL_VAR_GET, &buf, sizeof(buf),
                                     KAVO_DEV_TIMEOUT_DEFAULT);
    if (rv) {
        KAVO_LOG_E("HCC_IOCTL_HMI_LOCAL_VAR_GET ioctl failed (ret=%d)", rv);
        return rv;
    }
    *dev_type = buf.data.info.dev_type;
    return KAVO_OK;
}
