/* The link object: channels, HMI availability maps and the session heartbeat. */
#include "kavo_zylo_link.h"

#include <string.h>

#include "kavo_log.h"

static const char *const s_hmi_cmd_names[KAVO_ZYLO_HCC_APDU_HMI_CMD_MAX] = {
    "HMI_CMD_AVAIL_CMD", "HMI_CMD_VAR_GET", "HMI_CMD_VAR_SET"};

static const char *const s_hmi_var_names[KAVO_ZYLO_HCC_APDU_HMI_VAR_MAX] = {
    "HMI_VAR_AVAIL_VAR", "HMI_VAR_LINK_INFO",  "HMI_VAR_IPV4_CFG",   "HMI_VAR_SESS_LINK",
    "HMI_VAR_SESS_TAG",  "HMI_VAR_CONN_PORT",  "HMI_VAR_SESS_STAT",  "HMI_VAR_DEPRECATED",
    "HMI_VAR_WOL_CFG",   "HMI_VAR_SESS_DISC",  "HMI_VAR_SESS_TAG2",  "HMI_VAR_CACHED_TOPO",
    "HMI_VAR_UNICODE",   "HMI_VAR_IMG_USER_EXT_CFG"};

static int map_has(const sKAVO_ZYLO_HCC_APDU_HMI_MAP &map, unsigned n)
{
    return (map.map[n / 32] >> (n % 32)) & 1u;
}

static INT32 map_avail(const sKAVO_ZYLO_HCC_APDU_HMI_MAP &map, unsigned n)
{
    return map_has(map, n) ? KAVO_OK : KAVO_ERR_NOT_SUPPORTED;
}

cKAVO_ZYLO_LINK::cKAVO_ZYLO_LINK() : m_started(0), m_hcc_dev(NULL), m_hdc_dev(NULL)
{
    INT32 rv = m_hcc_dev.init(KAVO_ZYLO_HCC_DEV_PATH);
    if (rv)
        KAVO_LOG_E("failed to initialize Zylo HCC device object (ret=%d)", rv);
    else
        KAVO_LOG_D("successfully opened Zylo HCC object");

    rv = m_hdc_dev.init(KAVO_ZYLO_HDC_DEV_PATH);
    if (rv)
        KAVO_LOG_E("failed to initialize Zylo HDC device object (ret=%d)", rv);
    else
        KAVO_LOG_D("successfully opened Zylo HDC object");

    m_started = 0;
    m_kmp_pri_ctxt_valid = 0;
    memset(&m_kmp_pri_ctxt, 0, sizeof(m_kmp_pri_ctxt));
    memset(&m_kmp_bmp_cache, 0, sizeof(m_kmp_bmp_cache));
    hmi_avail_cmd_reset();
    hmi_avail_cmd_get();
}

cKAVO_ZYLO_LINK::~cKAVO_ZYLO_LINK()
{
    /* The slot storage belongs to the cache; the channels close with their members. */
    flush_bitmap_cache();
}

INT32 cKAVO_ZYLO_LINK::start()
{
    if (m_started) {
        KAVO_LOG_E("already started");
        return KAVO_OK;
    }
    m_started = 1;
    return KAVO_OK;
}

void cKAVO_ZYLO_LINK::stop()
{
    if (!m_started)
        return;
    hdc_close();
    m_started = 0;
}

INT cKAVO_ZYLO_LINK::is_ready()
{
    return m_hcc_dev.is_ready() && m_hdc_dev.is_ready();
}

void cKAVO_ZYLO_LINK::hmi_avail_cmd_reset()
{
    memset(&m_hmi_avail_cmd, 0, sizeof(m_hmi_avail_cmd));
    memset(&m_hmi_avail_get_var, 0, sizeof(m_hmi_avail_get_var));
    memset(&m_hmi_avail_set_var, 0, sizeof(m_hmi_avail_set_var));
}

static void dump_var_map(const sKAVO_ZYLO_HCC_APDU_HMI_MAP &map)
{
    KAVO_LOG_D("buf.data.avail_var.map[0] '0x%08X'", map.map[0]);
    for (unsigned n = 0; n < KAVO_ZYLO_HCC_APDU_HMI_VAR_MAX; n++)
        if (map_has(map, n))
            KAVO_LOG_D("%s", s_hmi_var_names[n]);
}

/* Reads one variable map (readable with the get request, writable with the
 * set request) into `out`; a failure leaves it zero. */
static void read_var_map(cKAVO_DEV &dev, UINT32 code, const char *fail_line,
                         sKAVO_ZYLO_HCC_APDU_HMI_MAP *out)
{
    sKAVO_ZYLO_HCC_APDU_HMI_VAR buf;
    memset(&buf, 0, sizeof(buf));
    buf.var = KAVO_ZYLO_HCC_APDU_HMI_VAR_AVAIL_VAR;
    if (dev.synch_ioctl(code, &buf, sizeof(buf), KAVO_DEV_TIMEOUT_DEFAULT)) {
        KAVO_LOG_E("%s", fail_line);
        memset(out, 0, sizeof(*out));
        return;
    }
    KAVO_LOG_D("********************************");
    dump_var_map(buf.data.avail_var);
    KAVO_LOG_D("********************************");
    memcpy(out, &buf.data.avail_var, sizeof(*out));
}

void cKAVO_ZYLO_LINK::hmi_avail_get_var_get()
{
    read_var_map(m_hcc_dev, HCC_IOCTL_HMI_VAR_GET, "KAVO_ZYLO_HCC_IOCTL_HMI_VAR_GET ioctl failed",
                 &m_hmi_avail_get_var);
}

void cKAVO_ZYLO_LINK::hmi_avail_set_var_get()
{
    read_var_map(m_hcc_dev, HCC_IOCTL_HMI_VAR_SET, "KAVO_ZYLO_IOCTL_ENV_VAR_SET ioctl failed",
                 &m_hmi_avail_set_var);
}

void cKAVO_ZYLO_LINK::hmi_avail_cmd_get()
{
    sKAVO_ZYLO_HCC_APDU_HMI_MAP cmd;
    memset(&cmd, 0, sizeof(cmd));
    if (m_hcc_dev.synch_ioctl(HCC_IOCTL_HMI_AVAIL_CMD_GET, &cmd, sizeof(cmd),
                              KAVO_DEV_TIMEOUT_DEFAULT)) {
        KAVO_LOG_E("failed to get available HMI commands");
        hmi_avail_cmd_reset();
        return;
    }
    KAVO_LOG_D("********************************");
    KAVO_LOG_D("hmi_avail_cmd.map[0] '0x%08X'", cmd.map[0]);
    for (unsigned n = 0; n < KAVO_ZYLO_HCC_APDU_HMI_CMD_MAX; n++)
        if (map_has(cmd, n))
            KAVO_LOG_D("%s", s_hmi_cmd_names[n]);
    KAVO_LOG_D("********************************");

    if (map_has(cmd, KAVO_ZYLO_HCC_APDU_HMI_CMD_VAR_GET))
        hmi_avail_get_var_get();
    if (map_has(cmd, KAVO_ZYLO_HCC_APDU_HMI_CMD_VAR_SET))
        hmi_avail_set_var_get();
    m_hmi_avail_cmd = cmd;
}

INT32 cKAVO_ZYLO_LINK::link_info_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO);
}
INT32 cKAVO_ZYLO_LINK::ipv4_cfg_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG);
}
INT32 cKAVO_ZYLO_LINK::sess_link_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK);
}
INT32 cKAVO_ZYLO_LINK::sess_stat_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT);
}
INT32 cKAVO_ZYLO_LINK::cached_topo_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_CACHED_TOPO);
}
INT32 cKAVO_ZYLO_LINK::img_user_ext_cfg_get_avail()
{
    return map_avail(m_hmi_avail_get_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_IMG_USER_EXT_CFG);
}
INT32 cKAVO_ZYLO_LINK::sess_link_disc_avail()
{
    return map_avail(m_hmi_avail_set_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK);
}
INT32 cKAVO_ZYLO_LINK::sess_stat_reset_avail()
{
    return map_avail(m_hmi_avail_set_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT);
}
INT32 cKAVO_ZYLO_LINK::sess_link_disc_with_reason_avail()
{
    return map_avail(m_hmi_avail_set_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_DISC);
}
INT32 cKAVO_ZYLO_LINK::img_user_ext_cfg_set_avail()
{
    return map_avail(m_hmi_avail_set_var, KAVO_ZYLO_HCC_APDU_HMI_VAR_IMG_USER_EXT_CFG);
}

/*
 * Polls the session link. A change is detected by the card's 8-bit transition
 * counter, never by the flags: several transitions between two polls report
 * one change, and the first successful poll after process start always
 * reports one so that the caller learns the initial state. The kept state is
 * process-wide, shared by every link object.
 */
void cKAVO_ZYLO_LINK::link_heartbeat(INT *sess_link_change,
                                     sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link)
{
    static INT first_time = 1;
    static UINT8 transition_cnt = 0;

    *sess_link_change = 0;
    if (sess_link_get(sess_link)) {
        kmp_pri_ctxt_reset();
        return;
    }
    if (sess_link->transition_cnt == transition_cnt && !first_time)
        return;

    first_time = 0;
    transition_cnt = sess_link->transition_cnt;
    kmp_pri_ctxt_reset();
    if (sess_link->flags & KAVO_ZYLO_SESS_LINK_FLAG_UP) {
        kmp_pri_ctxt_get();
        init_bitmap_cache();
    }
    *sess_link_change = 1;
    KAVO_LOG_D("sess link state changed - flags: 0x%08X, trans_cnt=%d, IP=%.*s",
               sess_link->flags, sess_link->transition_cnt,
               (int)strnlen(sess_link->ip, sizeof(sess_link->ip)), sess_link->ip);
}
