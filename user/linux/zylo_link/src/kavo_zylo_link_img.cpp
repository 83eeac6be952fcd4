/*
 * Image channel: host display topology to the card and the cursor channel,
 * the client's cached topology, and the user's image quality preference.
 */
#include <stdint.h>
#include <string.h>

#include "kavo_log.h"
#include "kavo_zylo_link.h"

#define ABS_SCALE 65536LL
#define ABS_TOLERANCE 196608LL /* three pixels on the 65536-step scale */

static const UINT8 valid_rates[] = {56, 59, 60, 65, 67, 70, 72, 73, 75, 82, 87, 88};

static INT32 narrow32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (INT32)v;
}

static int64_t abs64(int64_t v)
{
    return v < 0 ? -v : v;
}

static UINT32 rotation_from_wire(UINT32 rot)
{
    return rot <= (UINT32)KAVO_ZYLO_LINK_DISP_ROTATION_180 ? rot : (UINT32)KAVO_ZYLO_LINK_DISP_ROTATION_270;
}

static void img_cfg_req_fill(sKAVO_ZYLO_HCC_APDU_IMG_HOST_USER_CFG_REQ *req, UINT32 type)
{
    req->apdu_type = type;
    req->pri_num = 0;
}

INT32 cKAVO_ZYLO_LINK::img_user_cfg_set(UINT32 image_qual_pref)
{
    sKAVO_ZYLO_HCC_APDU_IMG_HOST_USER_CFG cfg;
    INT32 ret;

    if (image_qual_pref > 100) {
        KAVO_LOG_E("invalid argument");
        return KAVO_ERR_INVALID_ARG;
    }
    if (img_user_ext_cfg_set_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_D("HCC_IOCTL_IMG_USER_CFG_REQ_SET ioctl not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&cfg, 0, sizeof(cfg));
    img_cfg_req_fill(&cfg.host_user_cfg_req, KAVO_ZYLO_HCC_APDU_IMG_TYPE_HOST_USER_CFG);
    cfg.user_cfg_settings.image_qual_pref = image_qual_pref;
    cfg.user_cfg_settings.build_to_lossless_enable = 0;
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_IMG_USER_CFG_SET, &cfg, sizeof(cfg),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HCC_IOCTL_IMG_USER_CFG_SET ioctl failed (ret=%d)", ret);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::img_user_cfg_cache_set(UINT32 image_qual_pref)
{
    sKAVO_ZYLO_HCC_APDU_IMG_HOST_USER_CFG_CACHE_SET cfg;
    INT32 ret;

    if (image_qual_pref > 100) {
        KAVO_LOG_E("invalid argument");
        return KAVO_ERR_INVALID_ARG;
    }
    if (img_user_ext_cfg_set_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_D("HCC_IOCTL_IMG_USER_CFG_CACHE_SET ioctl not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&cfg, 0, sizeof(cfg));
    img_cfg_req_fill(&cfg.host_user_cfg_req, KAVO_ZYLO_HCC_APDU_IMG_TYPE_HOST_USER_CFG_CACHE_SET);
    cfg.image_qual_pref = image_qual_pref;
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_IMG_USER_CFG_CACHE_SET, &cfg, sizeof(cfg),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HCC_IOCTL_IMG_USER_CFG_CACHE_SET ioctl failed (ret=%d)", ret);
    return ret;
}

INT32 cKAVO_ZYLO_LINK::img_user_cfg_req_get(sKAVO_ZYLO_LINK_IMG_USER_CFG *user_cfg)
{
    sKAVO_ZYLO_HCC_APDU_IMG_HOST_USER_CFG cfg;
    INT32 ret;

    if (!user_cfg) {
        KAVO_LOG_E("invalid argument");
        return KAVO_ERR_INVALID_ARG;
    }
    if (img_user_ext_cfg_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_D("HCC_IOCTL_IMG_USER_CFG_REQ_GET ioctl not supported");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(user_cfg, 0, sizeof(*user_cfg));
    memset(&cfg, 0, sizeof(cfg));
    img_cfg_req_fill(&cfg.host_user_cfg_req, KAVO_ZYLO_HCC_APDU_IMG_TYPE_HOST_USER_CFG_REQ);
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_IMG_USER_CFG_REQ_GET, &cfg, sizeof(cfg),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HCC_IOCTL_IMG_USER_CFG_REQ_GET ioctl failed (ret=%d)", ret);
        return ret;
    }
    user_cfg->image_qual_pref = cfg.user_cfg_settings.image_qual_pref;
    user_cfg->build_to_lossless_enable = cfg.user_cfg_settings.build_to_lossless_enable;
    KAVO_LOG_D("end, qual=%d, b2l=%d", (int)user_cfg->image_qual_pref,
               (int)user_cfg->build_to_lossless_enable);
    return 0;
}

static void disp_topo_card_fill(const sKAVO_ZYLO_LINK_DISP_TOPO *in,
                                sKAVO_ZYLO_HCC_APDU_IMG_DISP_TOPO *out)
{
    memset(out, 0, sizeof(*out));
    out->apdu_type = KAVO_ZYLO_HCC_APDU_IMG_TYPE_DISP_TOPO;
    out->pri_num = 0;
    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        out->disp[i].pos_x = in->disp[i].x_origin;
        out->disp[i].pos_y = in->disp[i].y_origin;
        out->disp[i].width = in->disp[i].width;
        out->disp[i].height = in->disp[i].height;
        out->disp[i].rotation = in->disp[i].rotation;
        KAVO_LOG_D("disp%u: %d x %d @ (%d, %d) rot=%u", i, in->disp[i].width, in->disp[i].height,
                   in->disp[i].x_origin, in->disp[i].y_origin, in->disp[i].rotation);
    }
}

/*
 * The desktop box and the absolute scale. The arithmetic is done in 64 bits
 * and narrowed, so a far-away origin (e.g. INT32_MAX) cannot overflow; for
 * every real screen layout the results equal the signed 32-bit ones.
 */
static void disp_topo_cursor_fill(const sKAVO_ZYLO_HCC_APDU_IMG_DISP_TOPO *card,
                                  sKAVO_ZYLO_HDC_KMP_DISP_TOPO *hdc)
{
    int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;
    int64_t lo_x[KAVO_ZYLO_MAX_DISPLAYS], lo_y[KAVO_ZYLO_MAX_DISPLAYS];
    int64_t hi_x[KAVO_ZYLO_MAX_DISPLAYS], hi_y[KAVO_ZYLO_MAX_DISPLAYS];
    int64_t dw, dh;

    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sKAVO_ZYLO_HCC_APDU_IMG_DISP *d = &card->disp[i];
        sKAVO_ZYLO_HDC_KMP_DISP *o = &hdc->displays[i];

        if (!d->width || !d->height)
            continue;
        lo_x[i] = d->pos_x;
        lo_y[i] = d->pos_y;
        hi_x[i] = (int64_t)d->pos_x + d->width - 1;
        hi_y[i] = (int64_t)d->pos_y + d->height - 1;
        o->active = 1;
        o->min_pix_x = narrow32(lo_x[i]);
        o->min_pix_y = narrow32(lo_y[i]);
        o->max_pix_x = narrow32(hi_x[i]);
        o->max_pix_y = narrow32(hi_y[i]);
        o->width = d->width;
        o->height = d->height;
        o->rotation = d->rotation;
        hdc->num_active_displays++;
        min_x = lo_x[i] < min_x ? lo_x[i] : min_x;
        min_y = lo_y[i] < min_y ? lo_y[i] : min_y;
        max_x = hi_x[i] > max_x ? hi_x[i] : max_x;
        max_y = hi_y[i] > max_y ? hi_y[i] : max_y;
    }
    hdc->min_x = narrow32(min_x);
    hdc->max_x = narrow32(max_x);
    hdc->min_y = narrow32(min_y);
    hdc->max_y = narrow32(max_y);
    if (!hdc->num_active_displays)
        return;

    KAVO_LOG_D("twinview %d, primary %d x %d", hdc->twinview_active, hdc->primary_width,
               hdc->primary_height);
    dw = abs64(min_x) + abs64(max_x) + 1;
    dh = abs64(min_y) + abs64(max_y) + 1;
    hdc->desktop_width = narrow32(dw);
    hdc->desktop_height = narrow32(dh);
    hdc->desktop_x_tolerance = (UINT32)(ABS_TOLERANCE / dw);
    hdc->desktop_y_tolerance = (UINT32)(ABS_TOLERANCE / dh);
    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        sKAVO_ZYLO_HDC_KMP_DISP *o = &hdc->displays[i];

        if (!o->active)
            continue;
        o->min_abs_x = narrow32(lo_x[i] * ABS_SCALE / dw);
        o->min_abs_y = narrow32(lo_y[i] * ABS_SCALE / dh);
        o->max_abs_x = narrow32((hi_x[i] * ABS_SCALE + ABS_SCALE) / dw - 1);
        o->max_abs_y = narrow32((hi_y[i] * ABS_SCALE + ABS_SCALE) / dh - 1);
    }
}

INT32 cKAVO_ZYLO_LINK::disp_topology_send(const sKAVO_ZYLO_LINK_DISP_TOPO *disp_topo,
                                          INT32 primary_width, INT32 primary_height,
                                          INT twinview_active)
{
    sKAVO_ZYLO_HCC_APDU_IMG_DISP_TOPO card;
    sKAVO_ZYLO_HDC_KMP_DISP_TOPO hdc;
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sess_link;
    INT32 ret;

    if (!disp_topo || disp_topo->num_disp > KAVO_ZYLO_MAX_DISPLAYS || !primary_width ||
        !primary_height) {
        KAVO_LOG_E("invalid argument: %d X %d", primary_width, primary_height);
        return KAVO_ERR_INVALID_ARG;
    }
    disp_topo_card_fill(disp_topo, &card);
    memset(&hdc, 0, sizeof(hdc));
    hdc.primary_width = primary_width;
    hdc.primary_height = primary_height;
    hdc.twinview_active = twinview_active;
    disp_topo_cursor_fill(&card, &hdc);

    memset(&sess_link, 0, sizeof(sess_link));
    if (sess_link_get(&sess_link) || !(sess_link.flags & 1)) {
        KAVO_LOG_D("disp topology not sent (failed to get topology or no active session");
        return KAVO_ERR_FAIL;
    }
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_IMG_DISP_TOPO_SEND, &card, sizeof(card),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret) {
        KAVO_LOG_E("HCC_IOCTL_IMG_DISP_TOPO_SEND ioctl failed (ret=%d)", ret);
        return ret;
    }
    KAVO_LOG_D("sent display topology to FW through HCC");
    ret = m_hcc_dev.synch_ioctl(HDC_IOCTL_KMP_DISP_TOPO_SET, &hdc, sizeof(hdc),
                                KAVO_DEV_TIMEOUT_DEFAULT);
    if (ret)
        KAVO_LOG_E("HDC_IOCTL_KMP_DISP_TOPO_SET ioctl failed (ret=%d)", ret);
    else
        KAVO_LOG_D("sent display topology to HDC");
    return ret;
}

static INT rate_valid(UINT8 r)
{
    for (size_t i = 0; i < sizeof(valid_rates); i++)
        if (valid_rates[i] == r)
            return 1;
    return 0;
}

/* Copies one slot; returns its status contribution (0 when none) and
 * whether it counts. */
static INT32 cache_slot_copy(const sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *rsp, UINT32 i,
                             sKAVO_ZYLO_LINK_CACHE_DISP_TOPO *out, INT *counted)
{
    const sKAVO_ZYLO_HCC_APDU_IMG_DISP *d = &rsp->topo.topology[i];
    const sKAVO_ZYLO_HCC_APDU_IMG_IDEN *id = &rsp->iden[i];
    sKAVO_DISP_IDENTITY *oi = &out->iden[i];
    UINT8 r = rsp->topo.refresh_rate[i];
    INT32 st = 0;

    *counted = 0;
    if (!d->width && !d->height) {
        if (r == KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NO_CACHING) {
            *counted = 1;
            r = 0;
            st = KAVO_ERR_NO_CACHING;
        } else if (r == KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NOT_ACTIVE) {
            *counted = 1;
            r = 0;
            st = KAVO_ERR_NOT_ACTIVE;
        }
    } else {
        *counted = 1;
        if (!rate_valid(r)) {
            KAVO_LOG_E("disp%i: invalid refresh rate = %u", (int)i, r);
            st = KAVO_ERR_NOT_INIT;
        }
    }
    out->disp[i].x_origin = d->pos_x;
    out->disp[i].y_origin = d->pos_y;
    out->disp[i].width = d->width;
    out->disp[i].height = d->height;
    out->disp[i].rotation = rotation_from_wire(d->rotation);
    out->disp[i].refresh_rate = r;
    /* the card may fill every byte: keep the texts bounded and terminated */
    kavo_text_copy(oi->vid, sizeof(oi->vid), id->vid, sizeof(oi->vid));
    kavo_text_copy(oi->pid, sizeof(oi->pid), id->pid, sizeof(oi->pid));
    kavo_text_copy(oi->serial, sizeof(oi->serial), id->serial, sizeof(oi->serial));
    kavo_text_copy(oi->name, sizeof(oi->name), id->name, sizeof(oi->name));
    return st;
}

static void cache_topo_dump(const sKAVO_ZYLO_LINK_CACHE_DISP_TOPO *t)
{
    KAVO_LOG_D("primary=%d", (int)t->primary);
    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sKAVO_ZYLO_LINK_DISP2 *d = &t->disp[i];
        const sKAVO_DISP_IDENTITY *id = &t->iden[i];

        KAVO_LOG_D("disp%u: %u x %u @ (%d, %d) rot=%u rate=%u", i, d->width, d->height,
                   d->x_origin, d->y_origin, d->rotation, d->refresh_rate);
        KAVO_LOG_D("       name='%.*s', serial='%.*s', vid='%.*s', pid='%.*s'",
                   (int)sizeof(id->name), id->name, (int)sizeof(id->serial), id->serial,
                   (int)sizeof(id->vid), id->vid, (int)sizeof(id->pid), id->pid);
    }
}

INT32 cKAVO_ZYLO_LINK::cache_disp_topology_get(sKAVO_ZYLO_LINK_CACHE_DISP_TOPO *disp_topo)
{
    sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO rsp;
    INT32 ret, st = 0;

    if (!disp_topo) {
        KAVO_LOG_E("invalid argument");
        return KAVO_ERR_INVALID_ARG;
    }
    memset(disp_topo, 0, sizeof(*disp_topo));
    if (cached_topo_get_avail() == KAVO_ERR_NOT_SUPPORTED) {
        KAVO_LOG_D("FW does not support get cached topology");
        return KAVO_ERR_NOT_SUPPORTED;
    }
    memset(&rsp, 0, sizeof(rsp));
    rsp.apdu_type = KAVO_ZYLO_HCC_APDU_IMG_TYPE_CACHE_DISP_TOPO_GET;
    rsp.pri_num = 0;
    ret = m_hcc_dev.synch_ioctl(HCC_IOCTL_IMG_CACHE_DISP_TOPO_GET, &rsp, sizeof(rsp),
                                KAVO_DEV_TIMEOUT_LONG);
    if (ret) {
        KAVO_LOG_E("HCC_IOCTL_IMG_CACHE_DISP_TOPO_GET ioctl failed (ret=%d)", ret);
        return ret;
    }
    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        INT counted;
        INT32 s = cache_slot_copy(&rsp, i, disp_topo, &counted);

        if (counted)
            disp_topo->num_disp++;
        if (s)
            st = s;
    }
    disp_topo->primary = rsp.topo.primary;
    if (st == KAVO_ERR_NO_CACHING)
        KAVO_LOG_D("FW returned KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NO_CACHING");
    else if (st == KAVO_ERR_NOT_ACTIVE)
        KAVO_LOG_D("FW returned KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NOT_ACTIVE");
    cache_topo_dump(disp_topo);
    KAVO_LOG_D("end, ret=%d, disp_topo->num_disp=%d", st, (int)disp_topo->num_disp);
    return st;
}
