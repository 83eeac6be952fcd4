/*
 * KMP controls (cursor channel, client context, cursor and keyboard settings)
 * and the cursor shape bitmaps with their host-side slot cache.
 */
#include <stdlib.h>
#include <string.h>

#include "kavo_log.h"
#include "kavo_zylo_link.h"

#define KMP_SRC "../zylo_link/src/kavo_zylo_link_kmp"

/* ---- channel and context ---- */

static INT32 comm_ctrl_send(cKAVO_DEV *dev, UINT32 open_channel)
{
    sKAVO_ZYLO_HCC_APDU_KMP_COMM_CTRL ctrl;

    memset(&ctrl, 0, sizeof(ctrl));
    ctrl.apdu_type = KAVO_ZYLO_HCC_APDU_KMP_TYPE_COMM_CTRL;
    ctrl.open_channel = open_channel;
    return dev->synch_ioctl(HCC_IOCTL_KMP_HDC_COMM_CTRL, &ctrl, sizeof(ctrl),
                            KAVO_DEV_TIMEOUT_DEFAULT);
}

INT32 cKAVO_ZYLO_LINK::hdc_open()
{
    INT32 ret = comm_ctrl_send(&m_hcc_dev, 1);

    if (ret) {
        KAVO_LOG_E("KAVO_ZYLO_HCC_IOCTL_KMP_HDC_COMM_CTRL(OPEN) failed (ret=%d)", ret);
        return ret;
    }
    KAVO_LOG_D("KAVO_ZYLO_HCC_IOCTL_KMP_HDC_COMM_CTRL(OPEN) okay");
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_HDC_OPEN, NULL, 0, KAVO_DEV_TIMEOUT_HDC_OPEN);
    if (ret) {
        KAVO_LOG_E("KAVO_ZYLO_HDC_IOCTL_KMP_HDC_OPEN(OPEN) failed (ret=%d)", ret);
        hdc_close();
        return ret;
    }
    KAVO_LOG_D("KAVO_ZYLO_HDC_IOCTL_KMP_HDC_OPEN(OPEN) okay");
    return 0;
}

INT32 cKAVO_ZYLO_LINK::hdc_close()
{
    INT32 ret = comm_ctrl_send(&m_hcc_dev, 0);
    INT32 cret;

    if (ret)
        KAVO_LOG_E("KAVO_ZYLO_HCC_IOCTL_KMP_HDC_COMM_CTRL failed (ret=%d)", ret);
    else
        KAVO_LOG_D("KAVO_ZYLO_HCC_IOCTL_KMP_HDC_COMM_CTRL okay");
    /* the close goes out whatever the channel control gave */
    cret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_HDC_CLOSE, NULL, 0, KAVO_DEV_TIMEOUT_DEFAULT);
    if (cret)
        KAVO_LOG_E("KAVO_ZYLO_HDC_IOCTL_KMP_HDC_CLOSE failed (ret=%d)", cret);
    else
        KAVO_LOG_D("KAVO_ZYLO_HDC_IOCTL_KMP_HDC_CLOSE okay");
    return ret;
}

static void kmp_pri_ctxt_dump(const sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT *c)
{
    KAVO_LOG_D("pri_num=%u", c->pri_num);
    KAVO_LOG_D("kmp_supported=%u", c->kmp_supported);
    KAVO_LOG_D("kmp_enabled=%u", c->kmp_enabled);
    KAVO_LOG_D("encodings_supported=%u", c->encodings_supported);
    KAVO_LOG_D("zylo_kmp_1_supported=%u", c->zylo_kmp_1_supported);
    KAVO_LOG_D("cur_shape_caches_supported=%u", c->cur_shape_caches_supported);
    KAVO_LOG_D("cur_shape_cache_size_supported=%u", c->cur_shape_cache_size_supported);
    KAVO_LOG_D("cur_shape_caches=%u", c->cur_shape_caches);
    KAVO_LOG_D("cur_shape_cache_size=%u", c->cur_shape_cache_size);
    KAVO_LOG_D("cur_shape_bmp_supported=%u", c->cur_shape_bmp_supported);
    KAVO_LOG_D("cur_shape_bmp_alpha=%u", c->cur_shape_bmp_alpha);
    KAVO_LOG_D("cur_shape_bmp_color=%u", c->cur_shape_bmp_color);
    KAVO_LOG_D("cur_shape_max_size_supported=%u", c->cur_shape_max_size_supported);
    KAVO_LOG_D("cur_shape_max_size_x=%u", c->cur_shape_max_size_x);
    KAVO_LOG_D("cur_shape_max_size_y=%u", c->cur_shape_max_size_y);
    KAVO_LOG_D("kbd_client_auto_repeat_supported=%u", c->kbd_client_auto_repeat_supported);
    KAVO_LOG_D("kbd_client_auto_repeat_enable=%u", c->kbd_client_auto_repeat_enable);
    KAVO_LOG_D("cur_shape_fadeout_supported=%u", c->cur_shape_fadeout_supported);
    KAVO_LOG_D("cur_shape_fadeout_enable=%u", c->cur_shape_fadeout_enable);
    KAVO_LOG_D("cur_speed_update_supported=%u", c->cur_speed_update_supported);
    KAVO_LOG_D("cur_speed_update_enable=%u", c->cur_speed_update_enable);
    KAVO_LOG_D("usb_supported=%u", c->usb_supported);
    KAVO_LOG_D("usb_enable=%u", c->usb_enable);
}

void cKAVO_ZYLO_LINK::kmp_pri_ctxt_get()
{
    sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT ctxt;
    INT32 ret;

    memset(&ctxt, 0, sizeof(ctxt));
    ctxt.apdu_type = KAVO_ZYLO_HCC_APDU_KMP_TYPE_PRI_CTXT;
    ctxt.pri_num = 0;
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_KMP_PRI_CTXT_GET, &ctxt, sizeof(ctxt),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HCC_IOCTL_KMP_PRI_CTXT_GET failed (ret=%d)", ret);
        return;
    }
    m_kmp_pri_ctxt = ctxt;
    m_kmp_pri_ctxt_valid = 1;
    kmp_pri_ctxt_dump(&m_kmp_pri_ctxt);
}

void cKAVO_ZYLO_LINK::kmp_pri_ctxt_reset()
{
    memset(&m_kmp_pri_ctxt, 0, sizeof(m_kmp_pri_ctxt));
    m_kmp_pri_ctxt_valid = 0;
}

/* ---- predicates ---- */

static INT32 avail(INT valid, UINT8 flag)
{
    return (valid && flag) ? 0 : KAVO_ERR_NOT_SUPPORTED;
}

INT32 cKAVO_ZYLO_LINK::lcur_lkbd_avail()
{
    return avail(m_kmp_pri_ctxt_valid, m_kmp_pri_ctxt.zylo_kmp_1_supported);
}

INT32 cKAVO_ZYLO_LINK::lcur_spd_avail()
{
    return avail(m_kmp_pri_ctxt_valid, m_kmp_pri_ctxt.cur_speed_update_enable);
}

INT32 cKAVO_ZYLO_LINK::lcur_idle_hide_avail()
{
    return avail(m_kmp_pri_ctxt_valid, m_kmp_pri_ctxt.cur_shape_fadeout_enable);
}

INT32 cKAVO_ZYLO_LINK::lkbd_client_auto_repeat_avail()
{
    return avail(m_kmp_pri_ctxt_valid, m_kmp_pri_ctxt.kbd_client_auto_repeat_supported);
}

INT32 cKAVO_ZYLO_LINK::lcur_shape_bmp_send_avail()
{
    return avail(m_kmp_pri_ctxt_valid, m_kmp_pri_ctxt.cur_shape_bmp_alpha);
}

INT32 cKAVO_ZYLO_LINK::lcur_disable_avail()
{
    return (m_kmp_pri_ctxt.usb_supported && m_kmp_pri_ctxt.usb_enable) ? 0
                                                                      : KAVO_ERR_NOT_SUPPORTED;
}

INT cKAVO_ZYLO_LINK::is_client_sc()
{
    return (m_kmp_pri_ctxt_valid && !m_kmp_pri_ctxt.cur_shape_fadeout_enable) ? 1 : 0;
}

/* ---- feature switch and settings ---- */

static INT32 feat_en_send(cKAVO_DEV *dev, UINT32 en)
{
    sKAVO_ZYLO_HDC_APDU_KMP_FEAT_EN rec;

    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_FEAT_EN;
    rec.en = en;
    return dev->synch_ioctl(HDC_IOCTL_KMP_FEAT_EN, &rec, sizeof(rec), KAVO_DEV_TIMEOUT_DEFAULT);
}

INT32 cKAVO_ZYLO_LINK::lcur_lkbd_enable()
{
    INT32 ret;

    if (lcur_lkbd_avail()) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    ret = feat_en_send(&m_hdc_dev, 1);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_FEAT_EN failed (ret=%d)", ret);
    else
        KAVO_LOG_D("enabled local cursor and keyboard");
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_lkbd_disable()
{
    INT32 ret;

    if (lcur_lkbd_avail()) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    ret = feat_en_send(&m_hdc_dev, 0);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_FEAT_EN failed (ret=%d)", ret);
    else
        KAVO_LOG_D("disabled local cursor and keyboard");
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_idle_hide_set(UINT32 tstamp)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_IDLE_HIDE rec;
    INT32 ret;

    if (lcur_idle_hide_avail()) {
        KAVO_LOG_D("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_IDLE_HIDE;
    rec.time = tstamp;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_IDLE_HIDE, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_CUR_IDLE_HIDE failed (ret=%d)", ret);
    else
        KAVO_LOG_D("local cursor idle hide set successfully");
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_spd_set(UINT32 lcur_spd)
{
    sKAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SPD rec;
    INT32 ret;

    if (lcur_spd_avail()) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    if (lcur_spd < KAVO_ZYLO_LCUR_SPD_MIN || lcur_spd > KAVO_ZYLO_LCUR_SPD_MAX) {
        KAVO_LOG_E("error setting speed equal to %d, must be >= %d and <= %d", (int)lcur_spd,
                   KAVO_ZYLO_LCUR_SPD_MIN, KAVO_ZYLO_LCUR_SPD_MAX);
        return KAVO_ERR_INVALID_ARG;
    }
    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SPD;
    rec.spd = lcur_spd;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_SPD_SET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_CUR_SPD_SET failed, speed=%d (ret=%d)", (int)lcur_spd, ret);
    else
        KAVO_LOG_D("HDC_IOCTL_KMP_CUR_SPD_SET ok, speed=%d", (int)lcur_spd);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_spd_get(UINT32 *lcur_spd)
{
    sKAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SPD rec;
    INT32 ret;

    if (!lcur_spd) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (lcur_spd_avail()) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&rec, 0, sizeof(rec));
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_SPD_GET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HDC_IOCTL_KMP_CUR_SPD_GET failed (ret=%d)", ret);
        return ret;
    }
    *lcur_spd = rec.spd;
    KAVO_LOG_D("HDC_IOCTL_KMP_CUR_SPD_GET ok, speed=%d", (int)rec.spd);
    return 0;
}

INT32 cKAVO_ZYLO_LINK::lkbd_repeat_rates_set(UINT16 repeat_delay, UINT16 repeat_interval)
{
    sKAVO_ZYLO_HDC_APDU_KMP_KBD_REPEAT rec;
    INT32 ret;

    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_KBD_REPEAT;
    rec.tstamp = 0;
    rec.interval = repeat_interval;
    rec.delay = repeat_delay;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_KBD_REPEAT, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_KBD_REPEAT failed (ret=%d)", ret);
    else
        KAVO_LOG_D("HDC_IOCTL_KMP_KBD_REPEAT set okay, delay=%d, int=%d", repeat_delay,
                   repeat_interval);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lkbd_repeat_rates_get(UINT16 *repeat_delay, UINT16 *repeat_interval)
{
    sKAVO_ZYLO_HDC_APDU_KMP_KBD_REPEAT rec;
    INT32 ret;

    if (!repeat_delay || !repeat_interval) {
        KAVO_LOG_E("invalid arguments");
        return KAVO_ERR_INVALID_ARG;
    }
    if (lkbd_client_auto_repeat_avail()) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&rec, 0, sizeof(rec));
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_KBD_REPEAT_GET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_LONG);
    if (ret) {
        KAVO_LOG_E("HDC_IOCTL_KMP_KBD_REPEAT_GET failed (ret=%d)", ret);
        return ret;
    }
    *repeat_delay = rec.delay;
    *repeat_interval = rec.interval;
    KAVO_LOG_D("HDC_IOCTL_KMP_KBD_REPEAT_GET ok, delay=%d, interval=%d", rec.delay,
               rec.interval);
    return 0;
}

INT32 cKAVO_ZYLO_LINK::kmp_driver_cfg_set(eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE lcur_mode)
{
    sKAVO_ZYLO_HDC_KMP_DRIVER_CFG_CTRL rec;
    INT rel = (lcur_mode == KAVO_ZYLO_LINK_LCUR_REL_ALG);
    INT32 ret;

    memset(&rec, 0, sizeof(rec));
    rec.lcur_mode = rel ? KAVO_ZYLO_HDC_LCUR_REL_ALG : KAVO_ZYLO_HDC_LCUR_ABS_ALG;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_DRIVER_CFG_SET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DRIVER_CFG);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_DRIVER_CFG_SET failed (ret=%d)", ret);
    else
        KAVO_LOG_D("cursor event processing mode: %s", rel ? "Relative" : "Absolute");
    return ret;
}

/* ---- pointer position, visibility and shape ---- */

INT32 cKAVO_ZYLO_LINK::lcur_pointer_visibility_set(UINT32 tstamp, UINT8 visible)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_VIS rec;
    INT32 ret;

    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_VIS;
    rec.tstamp = tstamp;
    rec.visible = visible ? 1 : 0;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_VIS, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("KAVO_ZYLO_HDC_IOCTL_KMP_CUR_VIS failed (ret=%d)", ret);
    else
        KAVO_LOG_D("KAVO_ZYLO_HDC_IOCTL_KMP_CUR_VIS set okay, tstamp=%d, vis=%d", (int)tstamp,
                   rec.visible);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_pointer_location_set(UINT32 tstamp, UINT16 x_pos, UINT16 y_pos)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_POS rec;
    INT32 ret;

    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_POS;
    rec.tstamp = tstamp;
    rec.x = x_pos;
    rec.y = y_pos;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_POS, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("KAVO_ZYLO_HDC_IOCTL_KMP_CUR_POS failed (ret=%d)", ret);
    else
        KAVO_LOG_D("KAVO_ZYLO_HDC_IOCTL_KMP_CUR_POS set okay, tstamp=%d, x,y=%d,%d", (int)tstamp,
                   x_pos, y_pos);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_pointer_location_set_if_new(UINT16 abs_x, UINT16 abs_y)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_POS_IF_NEW rec;
    INT32 ret;

    rec.abs_x = abs_x;
    rec.abs_y = abs_y;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_POS_IF_NEW, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("KAVO_ZYLO_HDC_IOCTL_KMP_CUR_POS_IF_NEW failed (ret=%d)", ret);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::lcur_change_shape_send(UINT8 index)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_SHAPE rec;
    INT32 ret;

    if (index >= m_kmp_pri_ctxt.cur_shape_caches) {
        KAVO_LOG_E("invalid argument, index>=%d", m_kmp_pri_ctxt.cur_shape_caches);
        return KAVO_ERR_INVALID_ARG;
    }
    memset(&rec, 0, sizeof(rec));
    rec.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SHAPE;
    rec.tstamp = 0;
    rec.index = index;
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_SHAPE, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_CUR_SHAPE failed, index=%d (ret=%d)", index, ret);
    return ret;
}

/* ---- feature status ---- */

INT32 cKAVO_ZYLO_LINK::lcur_lkbd_last_feat_stat_get(UINT32 *feat_stat, UINT32 *feat_stat_cnt)
{
    sKAVO_ZYLO_HDC_KMP_LAST_FEAT_STAT rec;
    INT32 ret;

    if (!feat_stat || !feat_stat_cnt) {
        KAVO_ASSERT_LOG(KMP_SRC);
        return KAVO_ERR_INVALID_ARG;
    }
    memset(&rec, 0, sizeof(rec));
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_LAST_FEAT_STAT_GET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HDC_IOCTL_KMP_LAST_FEAT_STAT failed (ret=%d)", ret);
        return ret;
    }
    *feat_stat = rec.err;
    *feat_stat_cnt = rec.cnt;
    KAVO_LOG_D("HDC_IOCTL_KMP_LAST_FEAT_STAT_GET ok, stat=0x%x, cnt=%d", rec.err, (int)rec.cnt);
    return 0;
}

INT32 cKAVO_ZYLO_LINK::lcur_lkbd_dev_feat_stat_get(UINT32 *feat_stat)
{
    sKAVO_ZYLO_HDC_APDU_KMP_FEAT_STAT rec;
    INT32 ret;

    if (!feat_stat) {
        KAVO_ASSERT_LOG(KMP_SRC);
        return KAVO_ERR_INVALID_ARG;
    }
    memset(&rec, 0, sizeof(rec));
    ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_FEAT_STAT_GET, &rec, sizeof(rec),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HDC_IOCTL_KMP_FEAT_STAT_GET failed (ret=%d)", ret);
        return ret;
    }
    *feat_stat = rec.err;
    KAVO_LOG_D("HDC_IOCTL_KMP_FEAT_STAT_GET ok, stat=0x%x", rec.err);
    return 0;
}

/* ---- cursor shape bitmaps ---- */

INT32 cKAVO_ZYLO_LINK::lcur_shape_size_valid(UINT16 width, UINT16 height,
                                             INT color_mask_present)
{
    const sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT *c = &m_kmp_pri_ctxt;
    UINT64 pixels = (UINT64)width * height;
    UINT64 need = pixels * 4 + (color_mask_present ? pixels / 8 : 0);

    if (!c->cur_shape_max_size_supported || width > c->cur_shape_max_size_x ||
        height > c->cur_shape_max_size_y || !c->cur_shape_cache_size_supported ||
        need > c->cur_shape_cache_size)
        return KAVO_ERR_NOT_SUPPORTED;
    return 0;
}

INT32 zero_transparent_bits_in_and_mask(const UINT8 *and_data_start, UINT32 and_line_width,
                                        UINT32 width, UINT32 height)
{
    static const UINT8 lead_mask[8] = {0xFF, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
    UINT32 full = width / 8;
    UINT32 rest = width % 8;

    for (UINT32 row = 0; row < height; row++) {
        const UINT8 *p = and_data_start + (size_t)row * and_line_width;

        for (UINT32 b = 0; b < full; b++)
            if (p[b])
                return 0;
        if (rest && (p[full] & lead_mask[rest]))
            return 0;
    }
    return 1;
}

/* Writes `height` rows of `line` bytes top-down from bottom-up `src`.
 * Cursor rows are short (4 to 1020 bytes), so they are copied inline rather
 * than by one library call per row. */
static void rows_flip(UINT8 *dest, const UINT8 *src, UINT32 line, UINT32 height)
{
    for (UINT32 i = 0; i < height; i++) {
        UINT8 *d = dest + (size_t)i * line;
        const UINT8 *s = src + (size_t)(height - 1 - i) * line;

        for (UINT32 b = 0; b < line; b++)
            d[b] = s[b];
    }
}

INT32 cKAVO_ZYLO_LINK::flip_bitmap(UINT8 width, UINT8 height, UINT8 xor_depth, UINT32 bmp_len,
                                   const UINT8 *src, UINT8 *dest, INT32 *is_alpha)
{
    UINT32 alw = ((width + 31u) >> 5) << 2;
    UINT32 xlw, and_off, xor_off;

    if (xor_depth == 1) {
        xlw = alw;
        xor_off = 0;
        and_off = height * xlw;
    } else {
        xlw = width * 4u;
        and_off = 0;
        xor_off = height * alw;
    }
    if ((UINT64)(alw + xlw) * height > bmp_len) {
        KAVO_LOG_E("dest buffer too small, aborting copy: alw %d xlw %d h %d bl %d", (int)alw,
                   (int)xlw, height, (int)bmp_len);
        return KAVO_ERR_FAIL;
    }
    if (zero_transparent_bits_in_and_mask(src + and_off, alw, width, height)) {
        *is_alpha = 1;
        KAVO_LOG_D("Zero transparent bits in AND mask");
        rows_flip(dest, src + xor_off, xlw, height);
        return 0;
    }
    rows_flip(dest, src + and_off, alw, height);
    rows_flip(dest + (size_t)height * alw, src + xor_off, xlw, height);
    return 0;
}

static INT32 shape_type_check(UINT8 and_depth, UINT8 xor_depth,
                              eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type)
{
    if (bitmap_type != KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA &&
        bitmap_type != KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COLOR) {
        KAVO_LOG_E("bitmap_type %d not supported", (int)bitmap_type);
        return KAVO_ERR_NOT_SUPPORTED;
    }
    if (bitmap_type == KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA) {
        if (and_depth || xor_depth) {
            KAVO_LOG_E("and_depth (%d) AND xor_depth (%d) must both be zero for ALPHA bitmaps",
                       and_depth, xor_depth);
            return KAVO_ERR_NOT_SUPPORTED;
        }
        return 0;
    }
    if (and_depth != 1) {
        KAVO_LOG_E("and_depth (%d) must be 1 for COLOR bitmaps", and_depth);
        return KAVO_ERR_NOT_SUPPORTED;
    }
    if (xor_depth != 1 && xor_depth != 32) {
        KAVO_LOG_E("xor_depth %d not supported for COLOR bitmaps", xor_depth);
        return KAVO_ERR_NOT_SUPPORTED;
    }
    return 0;
}

/* A shape may take a slot only when the client caches and its kept copy
 * fits the slot's storage. */
static INT shape_fits_slot(const sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT *c,
                           const sKAVO_ZYLO_BMP_CACHE_DATA *cache, UINT32 bmp_len)
{
    return c->cur_shape_caches_supported && c->cur_shape_cache_size_supported &&
           cache->max_num_bmps > 0 && bmp_len <= c->cur_shape_cache_size;
}

INT32 cKAVO_ZYLO_LINK::lcur_shape_bmp_send(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height,
                                           UINT8 and_depth, UINT8 xor_depth, const UINT8 *bmp,
                                           UINT32 bmp_len,
                                           eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_SHAPE_BMP *req;
    UINT32 req_len;
    UINT8 slot;
    INT slotted;
    INT32 is_alpha = 0;
    INT32 ret;

    KAVO_LOG_D("bmp_len=%d width=%d height=%d", (int)bmp_len, width, height);
    if (!bmp) {
        KAVO_LOG_E("invalid argument, bmp = NULL");
        KAVO_ASSERT_LOG(KMP_SRC);
        return KAVO_ERR_INVALID_ARG;
    }
    if (!bmp_len) {
        KAVO_LOG_E("invalid argument, bmp_len = 0");
        KAVO_ASSERT_LOG(KMP_SRC);
        return KAVO_ERR_INVALID_ARG;
    }
    if (lcur_shape_bmp_send_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_E("not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    ret = shape_type_check(and_depth, xor_depth, bitmap_type);
    if (ret)
        return ret;
    if (xor_depth == 1 && and_depth == 1)
        height /= 2;

    if (is_bitmap_cached(hot_x, hot_y, width, height, and_depth, xor_depth, bmp, bmp_len,
                         bitmap_type, &slot))
        return lcur_change_shape_send(slot);

    if (bmp_len > UINT32_MAX - KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN) {
        KAVO_LOG_E("failed to allocate memory for ioctl buffer");
        return KAVO_ERR_NO_MEM;
    }
    req_len = bmp_len + KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN;
    req = (sKAVO_ZYLO_HDC_APDU_KMP_CUR_SHAPE_BMP *)calloc(1, req_len);
    if (!req) {
        KAVO_LOG_E("failed to allocate memory for ioctl buffer");
        return KAVO_ERR_NO_MEM;
    }
    slotted = shape_fits_slot(&m_kmp_pri_ctxt, &m_kmp_bmp_cache, bmp_len);
    req->apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SHAPE_BMP;
    req->tstamp = 0;
    req->bmp_type = (UINT8)bitmap_type;
    req->cache = slotted ? (UINT8)(KAVO_ZYLO_CUR_SHAPE_BMP_CACHE_STORE |
                                   ((m_kmp_bmp_cache.idx_last_stored_bmp + 1) %
                                    m_kmp_bmp_cache.max_num_bmps))
                         : 0;
    req->hot_x = hot_x;
    req->hot_y = hot_y;
    req->width = width;
    req->height = height;
    req->and_depth = and_depth;
    req->xor_depth = xor_depth;
    req->apdu_len = req_len;

    if (bitmap_type == KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA) {
        memcpy(req->bmp, bmp, bmp_len);
    } else {
        ret = flip_bitmap(width, height, xor_depth, bmp_len, bmp, req->bmp, &is_alpha);
        if (!ret && is_alpha)
            req->bmp_type = KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA;
    }
    if (!ret)
        ret = m_hdc_dev.synch_ioctl(HDC_IOCTL_KMP_CUR_SHAPE_BMP, req, req_len,
                                    KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_CUR_SHAPE_BMP failed (ret=%d)", ret);
    else if (slotted)
        add_bitmap_to_cache(hot_x, hot_y, width, height, and_depth, xor_depth, bmp, bmp_len,
                            bitmap_type);
    free(req);
    return ret;
}

/*
 * A cheap fingerprint of a shape: its length, one 8-byte word of every
 * 64 bytes and the last 8 bytes. Equal shapes always have equal
 * fingerprints, so a slot whose fingerprint differs is skipped without the
 * byte comparison; slots that agree are still compared byte by byte. At
 * worst (shapes that differ only between the sampled words) a lookup costs
 * what a plain comparison of every slot costs.
 */
#define BMP_SUM_STRIDE 64u

static UINT64 bmp_sum(const UINT8 *bmp, UINT32 len)
{
    UINT64 sum = len;
    UINT64 w;
    UINT32 i;

    if (len < sizeof(w)) {
        for (i = 0; i < len; i++)
            sum = sum * 31 + bmp[i];
        return sum;
    }
    for (i = 0; i + sizeof(w) <= len; i += BMP_SUM_STRIDE) {
        memcpy(&w, bmp + i, sizeof(w));
        sum += w;
    }
    memcpy(&w, bmp + len - sizeof(w), sizeof(w));
    return sum ^ w;
}

static void bmp_cache_release(sKAVO_ZYLO_BMP_CACHE_DATA *cache)
{
    for (INT32 i = 0; i < cache->max_num_bmps && i < KAVO_ZYLO_BMP_CACHE_MAX; i++) {
        free(cache->bmp[i].bmp);
        memset(&cache->bmp[i], 0, sizeof(cache->bmp[i]));
    }
    cache->max_num_bmps = 0;
}

INT32 cKAVO_ZYLO_LINK::init_bitmap_cache()
{
    const sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT *c = &m_kmp_pri_ctxt;
    sKAVO_ZYLO_BMP_CACHE_DATA *cache = &m_kmp_bmp_cache;
    INT32 want;

    if (!c->cur_shape_caches_supported || !c->cur_shape_cache_size_supported) {
        if (cache->max_num_bmps > 0)
            bmp_cache_release(cache);
        KAVO_LOG_D("bitmap caching disabled because client does not support it");
        cache->max_num_bmps = 0;
        return 0;
    }
    if (cache->max_num_bmps > 0) {
        bmp_cache_release(cache);
        KAVO_LOG_D("stored bitmap cache is already initialized");
    }
    want = c->cur_shape_caches < KAVO_ZYLO_BMP_CACHE_MAX ? c->cur_shape_caches
                                                          : KAVO_ZYLO_BMP_CACHE_MAX;
    cache->max_num_bmps = want;
    cache->idx_last_stored_bmp = 0;
    for (INT32 i = 0; i < want; i++) {
        memset(&cache->bmp[i], 0, sizeof(cache->bmp[i]));
        /* a zero slot size still gets a valid (empty) storage block */
        cache->bmp[i].bmp = (UINT8 *)malloc(c->cur_shape_cache_size ? c->cur_shape_cache_size
                                                                    : 1);
        if (!cache->bmp[i].bmp) {
            KAVO_LOG_E("unable to allocate storage for %d cached bitmap", (int)(want - i));
            cache->max_num_bmps = i;
            break;
        }
    }
    KAVO_LOG_D("allocated storage for %d cached bitmaps with size %d", (int)cache->max_num_bmps,
               (int)c->cur_shape_cache_size);
    return 0;
}

INT32 cKAVO_ZYLO_LINK::flush_bitmap_cache()
{
    sKAVO_ZYLO_BMP_CACHE_DATA *cache = &m_kmp_bmp_cache;

    if (cache->max_num_bmps > 0)
        KAVO_LOG_D("freeing storage for %d bitmaps", (int)cache->max_num_bmps);
    bmp_cache_release(cache);
    return 0;
}

INT32 cKAVO_ZYLO_LINK::is_bitmap_cached(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height,
                                        UINT8 and_depth, UINT8 xor_depth, const UINT8 *bmp,
                                        UINT32 bmp_len,
                                        eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type,
                                        UINT8 *cache_idx)
{
    const sKAVO_ZYLO_BMP_CACHE_DATA *cache = &m_kmp_bmp_cache;

    UINT64 sum;

    if (cache->max_num_bmps <= 0 || !bmp || !cache_idx)
        return 0;
    sum = bmp_sum(bmp, bmp_len);
    for (INT32 i = 0; i < cache->max_num_bmps; i++) {
        const sKAVO_ZYLO_BMP_DATA *e = &cache->bmp[i];

        if (!e->bmp_len || e->bitmap_type != (UINT8)bitmap_type || e->hot_x != hot_x ||
            e->hot_y != hot_y || e->width != width || e->height != height ||
            e->and_depth != and_depth || e->xor_depth != xor_depth || e->bmp_len != bmp_len || e->sum != sum)
            continue;
        if (!memcmp(e->bmp, bmp, bmp_len)) {
            *cache_idx = (UINT8)i;
            return 1;
        }
    }
    return 0;
}

void cKAVO_ZYLO_LINK::add_bitmap_to_cache(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height,
                                          UINT8 and_depth, UINT8 xor_depth, const UINT8 *bmp,
                                          UINT32 bmp_len,
                                          eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type)
{
    sKAVO_ZYLO_BMP_CACHE_DATA *cache = &m_kmp_bmp_cache;
    sKAVO_ZYLO_BMP_DATA *e;
    UINT8 idx;

    if (cache->max_num_bmps <= 0) {
        KAVO_LOG_E("attempt to add bitmap to empty cache!!!");
        KAVO_ASSERT_LOG(KMP_SRC);
        return;
    }
    /* never copy past a slot's storage */
    if (!bmp || !bmp_len || bmp_len > m_kmp_pri_ctxt.cur_shape_cache_size) {
        KAVO_LOG_E("bitmap of %u bytes does not fit a slot of %u bytes", bmp_len,
                   m_kmp_pri_ctxt.cur_shape_cache_size);
        return;
    }
    idx = (UINT8)((cache->idx_last_stored_bmp + 1) % cache->max_num_bmps);
    cache->idx_last_stored_bmp = idx;
    e = &cache->bmp[idx];
    e->bitmap_type = (UINT8)bitmap_type;
    e->hot_x = hot_x;
    e->hot_y = hot_y;
    e->width = width;
    e->height = height;
    e->and_depth = and_depth;
    e->xor_depth = xor_depth;
    memcpy(e->bmp, bmp, bmp_len);
    e->bmp_len = bmp_len;
    e->sum = bmp_sum(bmp, bmp_len);
}
