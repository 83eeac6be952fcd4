/*
 * The link object: the one path through which every request to the card
 * passes. It owns the HCC and HDC channels, the card's HMI availability maps,
 * the client's KMP capabilities and the cursor bitmap cache.
 *
 * Source units: kavo_zylo_link (object, maps, heartbeat), kavo_zylo_link_hmi
 * (HMI variables), kavo_zylo_link_img (image channel and topology),
 * kavo_zylo_link_kmp (KMP controls and cursor bitmaps).
 */
#ifndef KAVO_ZYLO_LINK_H
#define KAVO_ZYLO_LINK_H

#include "kavo_dev.h"
#include "kavo_status.h"
#include "kavo_types.h"
#include "kavo_zylo_apdu.h"

/* ---- link-side (in-memory) records of the image family ---- */
enum {
    KAVO_ZYLO_LINK_DISP_ROTATION_0 = 0,
    KAVO_ZYLO_LINK_DISP_ROTATION_90 = 1,
    KAVO_ZYLO_LINK_DISP_ROTATION_180 = 2,
    KAVO_ZYLO_LINK_DISP_ROTATION_270 = 3,
};

typedef struct sKAVO_ZYLO_LINK_DISP_STRUCT {
    INT32 x_origin;
    INT32 y_origin;
    UINT16 width;
    UINT16 height;
    UINT32 rotation;
} sKAVO_ZYLO_LINK_DISP;

typedef struct sKAVO_ZYLO_LINK_DISP2_STRUCT {
    INT32 x_origin;
    INT32 y_origin;
    UINT16 width;
    UINT16 height;
    UINT32 rotation;
    UINT8 refresh_rate;
} sKAVO_ZYLO_LINK_DISP2;

typedef struct sKAVO_ZYLO_LINK_DISP_TOPO_STRUCT {
    UINT32 num_disp;
    sKAVO_ZYLO_LINK_DISP disp[KAVO_ZYLO_MAX_DISPLAYS];
} sKAVO_ZYLO_LINK_DISP_TOPO;

typedef struct sKAVO_DISP_IDENTITY_STRUCT {
    char vid[4];
    char pid[5];
    char serial[14];
    char name[14];
} sKAVO_DISP_IDENTITY;

typedef struct sKAVO_ZYLO_LINK_CACHE_DISP_TOPO_STRUCT {
    UINT32 num_disp;
    sKAVO_ZYLO_LINK_DISP2 disp[KAVO_ZYLO_MAX_DISPLAYS];
    UINT32 primary;
    sKAVO_DISP_IDENTITY iden[KAVO_ZYLO_MAX_DISPLAYS];
} sKAVO_ZYLO_LINK_CACHE_DISP_TOPO;

typedef struct sKAVO_ZYLO_LINK_IMG_USER_CFG_STRUCT {
    UINT32 image_qual_pref;
    UINT32 build_to_lossless_enable;
} sKAVO_ZYLO_LINK_IMG_USER_CFG;

/* ---- KMP ---- */
typedef enum eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE {
    KAVO_ZYLO_LINK_LCUR_ABS_ALG = 0,
    KAVO_ZYLO_LINK_LCUR_REL_ALG = 1,
    KAVO_ZYLO_LINK_LCUR_MAX_ALG = 2,
} eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE;

typedef enum eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE {
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA = 0,
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COLOR = 1,
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_XOR = 2,
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COMP_ALPHA = 3,
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COMP_COLOR = 4,
    KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COMP_XOR = 5,
    KAVO_ZYLO_LINK_KMP_MAX_CUR_BITMAP = 6,
} eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE;

#define KAVO_ZYLO_LCUR_SPD_MIN 10
#define KAVO_ZYLO_LCUR_SPD_MAX 250
#define KAVO_ZYLO_BMP_CACHE_MAX 16

/* One host-side copy of a shape the client keeps in a slot. */
typedef struct sKAVO_ZYLO_BMP_DATA_STRUCT {
    UINT8 bitmap_type;
    UINT8 hot_x;
    UINT8 hot_y;
    UINT8 width;
    UINT8 height;
    UINT8 and_depth;
    UINT8 xor_depth;
    UINT8 *bmp;     /* cur_shape_cache_size bytes owned by the cache */
    UINT32 bmp_len; /* 0: empty slot */
    UINT64 sum;     /* quick check of the kept bytes before they are compared */
} sKAVO_ZYLO_BMP_DATA;

typedef struct sKAVO_ZYLO_BMP_CACHE_DATA_STRUCT {
    INT32 max_num_bmps;
    UINT8 idx_last_stored_bmp;
    sKAVO_ZYLO_BMP_DATA bmp[KAVO_ZYLO_BMP_CACHE_MAX];
} sKAVO_ZYLO_BMP_CACHE_DATA;

/* 1 when no AND bit inside the image width is set in any of `height` rows. */
INT32 zero_transparent_bits_in_and_mask(const UINT8 *and_data_start, UINT32 and_line_width,
                                        UINT32 width, UINT32 height);

class cKAVO_ZYLO_LINK
{
public:
    cKAVO_ZYLO_LINK();
    ~cKAVO_ZYLO_LINK();

    cKAVO_ZYLO_LINK(const cKAVO_ZYLO_LINK &) = delete;
    cKAVO_ZYLO_LINK &operator=(const cKAVO_ZYLO_LINK &) = delete;

    /* ---- object, maps, heartbeat (kavo_zylo_link) ---- */
    INT32 start();
    void stop();
    INT is_ready();
    INT is_started() const { return m_started; }
    void link_heartbeat(INT *sess_link_change, sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link);

    void hmi_avail_cmd_reset();
    void hmi_avail_cmd_get();
    void hmi_avail_get_var_get();
    void hmi_avail_set_var_get();

    INT32 link_info_get_avail();
    INT32 ipv4_cfg_get_avail();
    INT32 sess_link_get_avail();
    INT32 sess_stat_get_avail();
    INT32 cached_topo_get_avail();
    INT32 img_user_ext_cfg_get_avail();
    INT32 sess_link_disc_avail();
    INT32 sess_stat_reset_avail();
    INT32 sess_link_disc_with_reason_avail();
    INT32 img_user_ext_cfg_set_avail();

    /* ---- HMI variables (kavo_zylo_link_hmi) ---- */
    INT32 link_info_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO *link_info);
    INT32 ipv4_cfg_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG *ipv4_cfg);
    INT32 sess_link_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link);
    INT32 sess_stat_get(sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT *sess_stat);
    INT32 sess_stat_reset();
    INT32 sess_link_disc(UINT32 reason);
    INT32 local_info_get(UINT32 *dev_type);

    /* ---- image channel (kavo_zylo_link_img) ---- */
    INT32 img_user_cfg_set(UINT32 image_qual_pref);
    INT32 img_user_cfg_cache_set(UINT32 image_qual_pref);
    INT32 img_user_cfg_req_get(sKAVO_ZYLO_LINK_IMG_USER_CFG *user_cfg);
    INT32 disp_topology_send(const sKAVO_ZYLO_LINK_DISP_TOPO *disp_topo, INT32 primary_width,
                             INT32 primary_height, INT twinview_active);
    INT32 cache_disp_topology_get(sKAVO_ZYLO_LINK_CACHE_DISP_TOPO *disp_topo);

    /* ---- KMP controls (kavo_zylo_link_kmp) ---- */
    INT32 hdc_open();
    INT32 hdc_close();
    void kmp_pri_ctxt_get();
    void kmp_pri_ctxt_reset();

    INT32 lcur_lkbd_avail();
    INT32 lcur_spd_avail();
    INT32 lcur_idle_hide_avail();
    INT32 lkbd_client_auto_repeat_avail();
    INT32 lcur_shape_bmp_send_avail();
    INT32 lcur_disable_avail();
    INT is_client_sc();

    INT32 lcur_lkbd_enable();
    INT32 lcur_lkbd_disable();
    INT32 lcur_idle_hide_set(UINT32 tstamp);
    INT32 lcur_spd_set(UINT32 lcur_spd);
    INT32 lcur_spd_get(UINT32 *lcur_spd);
    INT32 lkbd_repeat_rates_set(UINT16 repeat_delay, UINT16 repeat_interval);
    INT32 lkbd_repeat_rates_get(UINT16 *repeat_delay, UINT16 *repeat_interval);
    INT32 kmp_driver_cfg_set(eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE lcur_mode);
    INT32 lcur_pointer_visibility_set(UINT32 tstamp, UINT8 visible);
    INT32 lcur_pointer_location_set(UINT32 tstamp, UINT16 x_pos, UINT16 y_pos);
    INT32 lcur_pointer_location_set_if_new(UINT16 abs_x, UINT16 abs_y);
    INT32 lcur_change_shape_send(UINT8 index);
    INT32 lcur_lkbd_last_feat_stat_get(UINT32 *feat_stat, UINT32 *feat_stat_cnt);
    INT32 lcur_lkbd_dev_feat_stat_get(UINT32 *feat_stat);

    /* ---- cursor shape bitmaps (kavo_zylo_link_kmp) ---- */
    INT32 lcur_shape_size_valid(UINT16 width, UINT16 height, INT color_mask_present);
    INT32 lcur_shape_bmp_send(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height,
                              UINT8 and_depth, UINT8 xor_depth, const UINT8 *bmp, UINT32 bmp_len,
                              eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type);
    INT32 init_bitmap_cache();
    INT32 flush_bitmap_cache();
    INT32 is_bitmap_cached(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height, UINT8 and_depth,
                           UINT8 xor_depth, const UINT8 *bmp, UINT32 bmp_len,
                           eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type, UINT8 *cache_idx);
    void add_bitmap_to_cache(UINT8 hot_x, UINT8 hot_y, UINT8 width, UINT8 height,
                             UINT8 and_depth, UINT8 xor_depth, const UINT8 *bmp, UINT32 bmp_len,
                             eKAVO_ZYLO_LINK_KMP_CUR_BITMAP_TYPE bitmap_type);
    INT32 flip_bitmap(UINT8 width, UINT8 height, UINT8 xor_depth, UINT32 bmp_len,
                      const UINT8 *src, UINT8 *dest, INT32 *is_alpha);

    /* Read-only views for callers and tests. */
    const sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT &kmp_pri_ctxt() const { return m_kmp_pri_ctxt; }
    INT kmp_pri_ctxt_valid() const { return m_kmp_pri_ctxt_valid; }
    const sKAVO_ZYLO_BMP_CACHE_DATA &bmp_cache() const { return m_kmp_bmp_cache; }

private:
    INT32 hmi_var_get(UINT32 var, void *rec, UINT32 rec_len, sKAVO_ZYLO_HCC_APDU_HMI_VAR *buf);

    INT m_started;
    cKAVO_DEV m_hcc_dev;
    cKAVO_DEV m_hdc_dev;
    sKAVO_ZYLO_HCC_APDU_HMI_MAP m_hmi_avail_cmd;
    sKAVO_ZYLO_HCC_APDU_HMI_MAP m_hmi_avail_get_var;
    sKAVO_ZYLO_HCC_APDU_HMI_MAP m_hmi_avail_set_var;
    sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT m_kmp_pri_ctxt;
    INT m_kmp_pri_ctxt_valid;
    sKAVO_ZYLO_BMP_CACHE_DATA m_kmp_bmp_cache;
};

#endif /* KAVO_ZYLO_LINK_H */
