#include "monitors.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <errno.h>
#include <limits.h>

namespace {

/* A decimal number in [lo, hi] at *p, optionally signed; advances *p. */
bool parse_num(const char **p, long lo, long hi, bool sign, long *out)
{
    const char *s = *p;
    char *end;
    long v;

    if (!sign && (*s == '-' || *s == '+'))
        return false;
    if (!((*s >= '0' && *s <= '9') || (sign && (*s == '-' || *s == '+'))))
        return false;
    errno = 0;
    v = strtol(s, &end, 10);
    if (end == s || errno == ERANGE || v < lo || v > hi)
        return false;
    *p = end;
    *out = v;
    return true;
}

/* "+N", "-N" or "+-N" */
bool parse_pos(const char **p, long *out)
{
    if (**p == '+')
        (*p)++;
    else if (**p != '-')
        return false;
    return parse_num(p, INT_MIN, INT_MAX, true, out);
}

} /* namespace */

cCARDSIM_MONITORS::cCARDSIM_MONITORS() : m_given(false) {}

int cCARDSIM_MONITORS::set_count(const std::string &arg, std::string *err)
{
    const char *p = arg.c_str();
    long n;

    if (!parse_num(&p, 1, KAVO_ZYLO_MAX_DISPLAYS, false, &n) || *p) {
        *err = "--monitors wants a count from 1 to 4, got \"" + arg + "\"";
        return -1;
    }
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++)
        m_slot[i] = sCARDSIM_MONITOR();
    for (int i = 0; i < n; i++) {
        sCARDSIM_MONITOR &m = m_slot[i];
        m.present = true;
        m.width = 1920;
        m.height = 1080;
        m.pos_x = 1920 * i;
        m.pos_y = 0;
        m.rate = 60;
        cardsim_edid_builtin(i, m.width, m.height, m.rate, &m.edid);
        cardsim_edid_identity(&m.edid, &m.id);
    }
    m_given = true;
    return 0;
}

int cCARDSIM_MONITORS::add_spec(const std::string &spec, std::string *err)
{
    const char *p = spec.c_str();
    long slot, w, h, x, y, hz;
    sCARDSIM_MONITOR m;

    *err = "bad monitor spec \"" + spec + "\": ";
    if (!parse_num(&p, 0, KAVO_ZYLO_MAX_DISPLAYS - 1, false, &slot) || *p++ != ':') {
        *err += "slot must be 0 to 3, followed by ':'";
        return -1;
    }
    if (!parse_num(&p, 1, 65535, false, &w) || *p++ != 'x' ||
        !parse_num(&p, 1, 65535, false, &h)) {
        *err += "size must be WxH with each 1 to 65535";
        return -1;
    }
    if (!parse_pos(&p, &x) || !parse_pos(&p, &y)) {
        *err += "position must be +X+Y (signed)";
        return -1;
    }
    if (*p++ != '@' || !parse_num(&p, 1, 255, false, &hz) || (*p && *p != ':')) {
        *err += "refresh rate must be @HZ with HZ 1 to 255";
        return -1;
    }
    m.present = true;
    m.width = (int)w;
    m.height = (int)h;
    m.pos_x = (int)x;
    m.pos_y = (int)y;
    m.rate = (int)hz;
    if (*p == ':') {
        std::string e;
        if (!p[1]) {
            *err += "empty EDID file name";
            return -1;
        }
        if (cardsim_edid_load(p + 1, &m.edid, &e) != 0) {
            *err += e;
            return -1;
        }
    } else {
        /* the built-in EDID only describes modes up to 4095 lines; keep its identity */
        cardsim_edid_builtin((int)slot, w > 4095 ? 4095 : (int)w, h > 4095 ? 4095 : (int)h,
                             (int)hz, &m.edid);
    }
    cardsim_edid_identity(&m.edid, &m.id);
    if (!m_given) {
        for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++)
            m_slot[i] = sCARDSIM_MONITOR();
    }
    m_slot[slot] = m;
    m_given = true;
    err->clear();
    return 0;
}

void cCARDSIM_MONITORS::finish()
{
    std::string err;

    if (!m_given)
        set_count("1", &err);
}

int cCARDSIM_MONITORS::count() const
{
    int n = 0;

    for (const auto &m : m_slot)
        n += m.present;
    return n;
}

/* The primary is the monitor at the origin, else the first present slot. */
int cCARDSIM_MONITORS::primary() const
{
    int first = -1;

    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        if (!m_slot[i].present)
            continue;
        if (m_slot[i].pos_x == 0 && m_slot[i].pos_y == 0)
            return i;
        if (first < 0)
            first = i;
    }
    return first < 0 ? 0 : first;
}

static void copy_text(UINT8 *dst, size_t dst_size, const char *src)
{
    size_t n = strnlen(src, dst_size - 1);

    memset(dst, 0, dst_size);
    memcpy(dst, src, n);
}

void cCARDSIM_MONITORS::fill_topo(eTOPO_STATE state,
                                  sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *rsp) const
{
    UINT8 empty_rate = 0;

    memset(rsp, 0, sizeof(*rsp));
    rsp->apdu_type = KAVO_ZYLO_HCC_APDU_IMG_TYPE_CACHE_DISP_TOPO_GET;
    rsp->pri_num = 0;
    if (state == TOPO_NOT_ACTIVE)
        empty_rate = KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NOT_ACTIVE;
    else if (state == TOPO_NO_CACHING)
        empty_rate = KAVO_ZYLO_HCC_HOST_TOPOLOGY_RATE_NO_CACHING;
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sCARDSIM_MONITOR &m = m_slot[i];

        rsp->topo.refresh_rate[i] = empty_rate;
        if (state != TOPO_ACTIVE || !m.present)
            continue;
        rsp->topo.topology[i].pos_x = m.pos_x;
        rsp->topo.topology[i].pos_y = m.pos_y;
        rsp->topo.topology[i].width = (UINT16)m.width;
        rsp->topo.topology[i].height = (UINT16)m.height;
        rsp->topo.topology[i].rotation = KAVO_ZYLO_HCC_APDU_IMG_ROTATION_0;
        rsp->topo.refresh_rate[i] = (UINT8)m.rate;
        copy_text(rsp->iden[i].vid, sizeof(rsp->iden[i].vid), m.id.vid);
        copy_text(rsp->iden[i].pid, sizeof(rsp->iden[i].pid), m.id.pid);
        copy_text(rsp->iden[i].serial, sizeof(rsp->iden[i].serial), m.id.serial);
        copy_text(rsp->iden[i].name, sizeof(rsp->iden[i].name), m.id.name);
    }
    rsp->topo.primary = state == TOPO_ACTIVE ? (UINT32)primary() : 0;
}

void cCARDSIM_MONITORS::set_caching(bool caching, int not_active_reads)
{
    m_caching = caching;
    m_not_active_reads = not_active_reads > 0 ? not_active_reads : 0;
}

void cCARDSIM_MONITORS::reply_topo(sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *rsp)
{
    if (m_not_active_reads > 0) {
        m_not_active_reads--;
        fill_topo(TOPO_NOT_ACTIVE, rsp);
    } else {
        fill_topo(m_caching ? TOPO_ACTIVE : TOPO_NO_CACHING, rsp);
    }
}
