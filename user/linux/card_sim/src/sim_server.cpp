/*
 * The card simulator's server: a model of the card (HMI variables, session
 * link, statistics, channels) and of the client behind it (capabilities,
 * cursor, keyboard, monitors), answering device channels and control
 * commands. One thread per connection; one mutex guards the model.
 */
#include "sim_server.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "client/cursor_png.h"
#include "client/monitors.h"
#include "sim_codes.h"
#include "sim_proto.h"

namespace {

uint64_t now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

std::string hex(const uint8_t *p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2);
    for (size_t i = 0; i < n; i++) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

/* A JSON string of at most `width` bytes of a card text field. */
std::string jtext(const void *field, size_t width)
{
    const char *p = (const char *)field;
    size_t n = strnlen(p, width);
    std::string s = "\"";
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if (c == '"' || c == '\\') {
            s += '\\';
            s += (char)c;
        } else if (c < 0x20 || c >= 0x7f) {
            char b[8];
            snprintf(b, sizeof(b), "\\u%04x", c);
            s += b;
        } else {
            s += (char)c;
        }
    }
    return s + "\"";
}

std::string jstr(const std::string &v) { return jtext(v.c_str(), v.size()); }

/* Builds a JSON object field by field. */
struct Obj {
    std::string s;
    Obj &num(const char *k, long long v)
    {
        add(k);
        s += std::to_string(v);
        return *this;
    }
    Obj &raw(const char *k, const std::string &v)
    {
        add(k);
        s += v;
        return *this;
    }
    Obj &text(const char *k, const void *f, size_t w) { return raw(k, jtext(f, w)); }
    std::string str() const { return "{" + s + "}"; }
    void add(const char *k)
    {
        if (!s.empty())
            s += ",";
        s += "\"";
        s += k;
        s += "\":";
    }
};

enum eKEY_TYPE { K_U8, K_U16, K_U32, K_TEXT };

struct Key {
    std::string name;
    eKEY_TYPE type;
    void *ptr;
    size_t width;
};

struct Model {
    /* card */
    uint32_t cmd_map = 0x7;
    uint32_t get_map = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 3) | (1u << 6) | (1u << 11) | (1u << 13);
    uint32_t set_map = (1u << 3) | (1u << 6) | (1u << 9) | (1u << 13);
    uint32_t hcc_present = 1, hdc_present = 1;
    uint32_t dev_type = 1;
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO link{};
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG ipv4{};
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sess{};
    std::string client = "zc";
    uint32_t disc_cause = 0, disc_count = 0;
    std::string disc_way;
    double up_seconds = 0;   /* session time counted since the last statistics reset */
    uint64_t up_since = 0;   /* while up: when counting resumed */
    uint32_t stat_resets = 0;
    /* channels */
    uint32_t chan_ctrl_open = 0, hdc_open = 0;
    /* client */
    sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT ctxt{};
    uint32_t feat_en = 0, feat_stat_err = 0, last_feat_stat_err = 0, last_feat_stat_cnt = 0;
    uint32_t kbd_client_delay = 500, kbd_client_interval = 33;
    uint32_t kbd_delay = 0, kbd_interval = 0, kbd_set_count = 0;
    uint32_t cur_spd = 100, idle_hide = 0, visible = 1;
    uint32_t pos_x = 0, pos_y = 0, pos_abs_x = 0, pos_abs_y = 0, pos_if_new_sent = 0, pos_if_new_new = 0;
    uint32_t lcur_mode = 0, shape_bmp_count = 0, shape_select_count = 0, shown_slot = 0xFFFFFFFF;
    uint32_t img_qual_pref = 50, img_b2l = 0, img_cache_qual_pref = 50;
    uint32_t topo_caching = 1, topo_not_active_reads = 0;
    uint32_t topo_rate[KAVO_ZYLO_MAX_DISPLAYS] = {}; /* non-zero: the rate a slot reports */
    sKAVO_ZYLO_HCC_APDU_IMG_DISP_TOPO disp_topo{};
    sKAVO_ZYLO_HDC_KMP_DISP_TOPO kmp_topo{};
    uint32_t disp_topo_count = 0, kmp_topo_count = 0;
    cCARDSIM_MONITORS monitors;
    cCARDSIM_CURSOR cursor;
    /* driver faults */
    std::map<std::string, long> fail; /* code text -> remaining count, -1 always */
    std::map<unsigned, bool> garbage;
    std::map<std::string, int> result; /* code text -> the next success's positive result */
    /* log */
    std::vector<std::string> log;
    std::vector<std::string> log_code;

    std::vector<Key> keys;
    /* Context fields set by `set ctxt.*`: they outlive the profile that
     * `session up` loads, so a test can shape the next client. */
    std::map<std::string, std::string> ctxt_overrides;

    Model();
    bool up() const { return sess.flags & KAVO_ZYLO_SESS_LINK_FLAG_UP; }
};

void set_text(char *dst, size_t width, const char *src)
{
    memset(dst, 0, width);
    memcpy(dst, src, strnlen(src, width));
}

void client_profile(Model &m, const std::string &type)
{
    sKAVO_ZYLO_HCC_APDU_KMP_PRI_CTXT &c = m.ctxt;
    memset(&c, 0, sizeof(c));
    c.apdu_type = KAVO_ZYLO_HCC_APDU_KMP_TYPE_PRI_CTXT;
    c.kmp_supported = c.kmp_enabled = 1;
    c.encodings_supported = 1;
    c.zylo_kmp_1_supported = 1;
    c.cur_shape_caches_supported = c.cur_shape_cache_size_supported = 1;
    c.cur_shape_bmp_supported = c.cur_shape_bmp_alpha = c.cur_shape_bmp_color = 1;
    c.cur_shape_max_size_supported = 1;
    c.cur_shape_max_size_x = c.cur_shape_max_size_y = 64;
    c.kbd_client_auto_repeat_supported = c.kbd_client_auto_repeat_enable = 1;
    c.cur_speed_update_supported = c.cur_speed_update_enable = 1;
    if (type == "sc") {
        /* A software client: no cursor fade-out, no USB bridging. */
        c.cur_shape_caches = 8;
        c.cur_shape_cache_size = 16896;
        c.cur_shape_fadeout_supported = c.cur_shape_fadeout_enable = 0;
        c.usb_supported = c.usb_enable = 0;
    } else {
        c.cur_shape_caches = 16;
        c.cur_shape_cache_size = 16896; /* a 64 x 64 32-bit cursor with its mask */
        c.cur_shape_fadeout_supported = c.cur_shape_fadeout_enable = 1;
        c.usb_supported = c.usb_enable = 1;
    }
}

Model::Model()
{
    link.state = KAVO_ZYLO_HCC_APDU_HMI_LINK_STATE_UP;
    link.rate = KAVO_ZYLO_HCC_APDU_HMI_LINK_RATE_1000M;
    link.flags = 1;
    set_text(link.mac, sizeof(link.mac), "00-1B-9C-10-20-30");
    ipv4.flags = 0x3;
    set_text(ipv4.ip, 16, "192.168.50.21");
    set_text(ipv4.mask, 16, "255.255.255.0");
    set_text(ipv4.gw, 16, "192.168.50.1");
    set_text(ipv4.pri_dns, 16, "192.168.50.2");
    set_text(ipv4.sec_dns, 16, "192.168.50.3");
    monitors.finish();

    auto k = [this](const char *n, eKEY_TYPE t, void *p, size_t w = 0) { keys.push_back({n, t, p, w}); };
    k("hmi.cmd_map", K_U32, &cmd_map);
    k("hmi.get_map", K_U32, &get_map);
    k("hmi.set_map", K_U32, &set_map);
    k("dev.hcc_present", K_U32, &hcc_present);
    k("dev.hdc_present", K_U32, &hdc_present);
    k("dev.dev_type", K_U32, &dev_type);
    k("link.state", K_U32, &link.state);
    k("link.rate", K_U32, &link.rate);
    k("link.flags", K_U8, &link.flags);
    k("link.mac", K_TEXT, link.mac, sizeof(link.mac));
    k("ipv4.flags", K_U8, &ipv4.flags);
    k("ipv4.ip", K_TEXT, ipv4.ip, 16);
    k("ipv4.mask", K_TEXT, ipv4.mask, 16);
    k("ipv4.gw", K_TEXT, ipv4.gw, 16);
    k("ipv4.pri_dns", K_TEXT, ipv4.pri_dns, 16);
    k("ipv4.sec_dns", K_TEXT, ipv4.sec_dns, 16);
    k("sess.flags", K_U8, &sess.flags);
    k("sess.transition_cnt", K_U8, &sess.transition_cnt);
    k("sess.ip", K_TEXT, sess.ip, sizeof(sess.ip));
    k("sess.mac", K_TEXT, sess.mac, sizeof(sess.mac));
    k("chan.ctrl_open", K_U32, &chan_ctrl_open);
    k("chan.hdc_open", K_U32, &hdc_open);
#define CTXT8(f) k("ctxt." #f, K_U8, &ctxt.f)
    CTXT8(kmp_supported); CTXT8(kmp_enabled); CTXT8(encodings_supported);
    CTXT8(zylo_kmp_1_supported); CTXT8(cur_shape_caches_supported);
    CTXT8(cur_shape_cache_size_supported);
    k("ctxt.cur_shape_caches", K_U16, &ctxt.cur_shape_caches);
    k("ctxt.cur_shape_cache_size", K_U32, &ctxt.cur_shape_cache_size);
    CTXT8(cur_shape_bmp_supported); CTXT8(cur_shape_bmp_alpha); CTXT8(cur_shape_bmp_color);
    CTXT8(cur_shape_max_size_supported);
    k("ctxt.cur_shape_max_size_x", K_U16, &ctxt.cur_shape_max_size_x);
    k("ctxt.cur_shape_max_size_y", K_U16, &ctxt.cur_shape_max_size_y);
    CTXT8(kbd_client_auto_repeat_supported); CTXT8(kbd_client_auto_repeat_enable);
    CTXT8(cur_shape_fadeout_supported); CTXT8(cur_shape_fadeout_enable);
    CTXT8(cur_speed_update_supported); CTXT8(cur_speed_update_enable);
    CTXT8(usb_supported); CTXT8(usb_enable);
#undef CTXT8
    k("client.feat_en", K_U32, &feat_en);
    k("client.feat_stat_err", K_U32, &feat_stat_err);
    k("client.last_feat_stat_err", K_U32, &last_feat_stat_err);
    k("client.last_feat_stat_cnt", K_U32, &last_feat_stat_cnt);
    k("client.kbd_client_delay", K_U32, &kbd_client_delay);
    k("client.kbd_client_interval", K_U32, &kbd_client_interval);
    k("client.kbd_delay", K_U32, &kbd_delay);
    k("client.kbd_interval", K_U32, &kbd_interval);
    k("client.cur_spd", K_U32, &cur_spd);
    k("client.idle_hide", K_U32, &idle_hide);
    k("client.visible", K_U32, &visible);
    k("client.pos_x", K_U32, &pos_x);
    k("client.pos_y", K_U32, &pos_y);
    k("client.pos_abs_x", K_U32, &pos_abs_x);
    k("client.pos_abs_y", K_U32, &pos_abs_y);
    k("client.pos_if_new_sent", K_U32, &pos_if_new_sent);
    k("client.pos_if_new_new", K_U32, &pos_if_new_new);
    k("client.shape_bmp_count", K_U32, &shape_bmp_count);
    k("client.shape_select_count", K_U32, &shape_select_count);
    k("client.shown_slot", K_U32, &shown_slot);
    k("driver.lcur_mode", K_U32, &lcur_mode);
    k("img.qual_pref", K_U32, &img_qual_pref);
    k("img.b2l", K_U32, &img_b2l);
    k("img.cache_qual_pref", K_U32, &img_cache_qual_pref);
    k("topo.caching", K_U32, &topo_caching);
    k("topo.not_active_reads", K_U32, &topo_not_active_reads);
    k("topo.rate0", K_U32, &topo_rate[0]);
    k("topo.rate1", K_U32, &topo_rate[1]);
    k("topo.rate2", K_U32, &topo_rate[2]);
    k("topo.rate3", K_U32, &topo_rate[3]);
    k("sess.disc_cause", K_U32, &disc_cause);
    k("sess.disc_count", K_U32, &disc_count);
    client_profile(*this, "zc");
}

std::string key_value(const Key &k)
{
    switch (k.type) {
    case K_U8: return std::to_string(*(uint8_t *)k.ptr);
    case K_U16: return std::to_string(*(uint16_t *)k.ptr);
    case K_U32: return std::to_string(*(uint32_t *)k.ptr);
    case K_TEXT: return jtext(k.ptr, k.width);
    }
    return "null";
}

int key_set(Key &k, const std::string &v, std::string *err)
{
    if (k.type == K_TEXT) {
        /* Up to the field's width; a value that fills it leaves no NUL, as a card may. */
        memset(k.ptr, 0, k.width);
        memcpy(k.ptr, v.data(), v.size() < k.width ? v.size() : k.width);
        return 0;
    }
    char *end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(v.c_str(), &end, 0);
    unsigned long long max = k.type == K_U8 ? 0xFF : k.type == K_U16 ? 0xFFFF : 0xFFFFFFFFull;
    if (v.empty() || *end || errno || n > max || v[0] == '-') {
        *err = "bad value for " + k.name + ": " + v;
        return -1;
    }
    if (k.type == K_U8)
        *(uint8_t *)k.ptr = (uint8_t)n;
    else if (k.type == K_U16)
        *(uint16_t *)k.ptr = (uint16_t)n;
    else
        *(uint32_t *)k.ptr = (uint32_t)n;
    return 0;
}

/* ---------------------------------------------------------------- model */

void session_transition(Model &m, bool up)
{
    uint64_t now = now_us();
    if (m.up() && !up)
        m.up_seconds += (double)(now - m.up_since) / 1e6;
    if (up)
        m.up_since = now;
    m.sess.flags = up ? (m.sess.flags | KAVO_ZYLO_SESS_LINK_FLAG_UP)
                      : (m.sess.flags & ~KAVO_ZYLO_SESS_LINK_FLAG_UP);
    m.sess.transition_cnt = (uint8_t)(m.sess.transition_cnt + 1);
    if (!up) {
        m.feat_en = 0;
        m.hdc_open = 0;
        m.chan_ctrl_open = 0;
    }
}

void session_down(Model &m, const char *way)
{
    if (!m.up())
        return;
    session_transition(m, false);
    m.disc_way = way;
    m.disc_count++;
}

void fill_stats(Model &m, sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT *s)
{
    double t = m.up_seconds + (m.up() ? (double)(now_us() - m.up_since) / 1e6 : 0);
    memset(s, 0, sizeof(*s));
    s->tx_pkt_cnt = (UINT64)(t * 1850);
    s->rx_pkt_cnt = (UINT64)(t * 640);
    s->rx_pkt_loss_cnt = (UINT64)(t / 20);
    s->tx_byte_cnt = (UINT64)(t * 1.9e6);
    s->rx_byte_cnt = (UINT64)(t * 85e3);
    s->tx_bw_limit = 90000;
    if (t > 0) {
        s->tx_bw_avg = 15200;
        s->tx_bw_min = 900;
        s->tx_bw_max = 48000;
        s->rx_bw_avg = 680;
        s->rx_bw_min = 120;
        s->rx_bw_max = 2100;
        s->latency_cur = 2 + (UINT32)t % 3;
        s->latency_min = 1;
        s->latency_max = 6;
    }
    s->max_num_disp = KAVO_ZYLO_MAX_DISPLAYS;
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++)
        s->frame_rate[i] = (m.up() && m.monitors.slot(i).present) ? 30 : 0;
}

std::string code_text(unsigned code)
{
    char b[16];
    snprintf(b, sizeof(b), "0x%04x", code);
    return b;
}

/* A CODE word of a control command ("0x7902", "7902" or "open") as the log spells it. */
std::string code_word(const std::string &w)
{
    if (w == "open" || w == "close")
        return w;
    return code_text((unsigned)strtoul(w.c_str(), nullptr, 16));
}

/* Consumes one injected failure for `code`; true when this request fails. */
bool take_failure(Model &m, const std::string &code)
{
    auto it = m.fail.find(code);
    if (it == m.fail.end())
        return false;
    if (it->second > 0 && --it->second == 0)
        m.fail.erase(it);
    return true;
}

struct Ctx {
    Model &m;
    uint8_t *buf;
    uint32_t len;
    Obj f; /* decoded fields */
    int err = 0;
};

int fail(Ctx &c, int e)
{
    c.err = e;
    return -1;
}

int hmi_var_get(Ctx &c)
{
    Model &m = c.m;
    sKAVO_ZYLO_HCC_APDU_HMI_VAR *v = (sKAVO_ZYLO_HCC_APDU_HMI_VAR *)c.buf;
    c.f.num("var", v->var);
    if (!(m.cmd_map & (1u << 1)))
        return fail(c, EPERM);
    if (v->var >= 32 || !(m.get_map & (1u << v->var)))
        return v->var == 0 ? fail(c, EPERM) : fail(c, EINVAL);
    memset(v->data.raw, 0, sizeof(v->data.raw));
    switch (v->var) {
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_AVAIL_VAR:
        v->data.avail_var.map[0] = m.get_map;
        c.f.num("map", m.get_map);
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO:
        v->data.link_info = m.link;
        c.f.num("state", m.link.state).num("rate", m.link.rate).text("mac", m.link.mac, 20);
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG:
        v->data.ipv4_cfg = m.ipv4;
        c.f.num("flags", m.ipv4.flags).text("ip", m.ipv4.ip, 16);
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK:
        v->data.sess_link = m.sess;
        c.f.num("flags", m.sess.flags).num("transition_cnt", m.sess.transition_cnt)
            .text("ip", m.sess.ip, 16).text("mac", m.sess.mac, 20);
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT:
        fill_stats(m, &v->data.sess_stat);
        c.f.num("tx_pkt_cnt", (long long)v->data.sess_stat.tx_pkt_cnt);
        break;
    default:
        break; /* offered but not modelled: zeros */
    }
    return 0;
}

int hmi_var_set(Ctx &c)
{
    Model &m = c.m;
    sKAVO_ZYLO_HCC_APDU_HMI_VAR *v = (sKAVO_ZYLO_HCC_APDU_HMI_VAR *)c.buf;
    c.f.num("var", v->var);
    if (!(m.cmd_map & (1u << 2)))
        return fail(c, EPERM);
    if (v->var == 0) {
        memset(v->data.raw, 0, sizeof(v->data.raw));
        v->data.avail_var.map[0] = m.set_map;
        c.f.num("map", m.set_map);
        return 0;
    }
    if (v->var >= 32 || !(m.set_map & (1u << v->var)))
        return fail(c, EINVAL);
    switch (v->var) {
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK:
        c.f.num("flags", v->data.sess_link.flags);
        if (!(v->data.sess_link.flags & KAVO_ZYLO_SESS_LINK_FLAG_UP))
            session_down(m, "sess_link");
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT:
        m.up_seconds = 0;
        m.up_since = now_us();
        m.stat_resets++;
        c.f.raw("reset", "true");
        break;
    case KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_DISC:
        m.disc_cause = v->data.sess_disc.reason_cause;
        c.f.num("reason_cause", m.disc_cause);
        session_down(m, "sess_disc");
        break;
    default:
        break;
    }
    return 0;
}

int kmp_needs_session(Ctx &c)
{
    if (!c.m.hdc_open)
        return fail(c, ENOTCONN);
    if (!c.m.up())
        return fail(c, ENOLINK);
    return 0;
}

int handle_hdc(Ctx &c, unsigned code)
{
    Model &m = c.m;
    uint8_t *b = c.buf;
    auto u32 = [b](size_t off) { uint32_t v; memcpy(&v, b + off, 4); return v; };
    auto u16 = [b](size_t off) { uint16_t v; memcpy(&v, b + off, 2); return v; };
    if (code == HDC_IOCTL_KMP_HDC_OPEN) {
        if (!m.chan_ctrl_open)
            return fail(c, EIO);
        m.hdc_open = 1;
        return 0;
    }
    if (code == HDC_IOCTL_KMP_HDC_CLOSE) {
        m.hdc_open = 0;
        return 0;
    }
    if (code == HDC_IOCTL_KMP_DRIVER_CFG_SET) {
        /* The driver's own setting: no channel or client needed. */
        m.lcur_mode = *(uint32_t *)b;
        c.f.num("lcur_mode", m.lcur_mode);
        return 0;
    }
    if (kmp_needs_session(c))
        return -1;
    switch (code) {
    case HDC_IOCTL_KMP_FEAT_EN:
        m.feat_en = u32(4) ? 1 : 0;
        c.f.num("en", u32(4));
        return 0;
    case HDC_IOCTL_KMP_FEAT_STAT_GET:
        memcpy(b + 4, &m.feat_stat_err, 4);
        c.f.num("err", m.feat_stat_err);
        return 0;
    case HDC_IOCTL_KMP_LAST_FEAT_STAT_GET:
        memcpy(b, &m.last_feat_stat_err, 4);
        memcpy(b + 4, &m.last_feat_stat_cnt, 4);
        c.f.num("err", m.last_feat_stat_err).num("cnt", m.last_feat_stat_cnt);
        return 0;
    case HDC_IOCTL_KMP_KBD_REPEAT:
        m.kbd_interval = u16(8);
        m.kbd_delay = u16(10);
        m.kbd_set_count++;
        c.f.num("interval", m.kbd_interval).num("delay", m.kbd_delay);
        return 0;
    case HDC_IOCTL_KMP_KBD_REPEAT_GET: {
        if (!m.ctxt.kbd_client_auto_repeat_supported)
            return fail(c, EOPNOTSUPP);
        uint16_t i = (uint16_t)m.kbd_client_interval, d = (uint16_t)m.kbd_client_delay;
        memcpy(b + 8, &i, 2);
        memcpy(b + 10, &d, 2);
        c.f.num("interval", i).num("delay", d);
        return 0;
    }
    case HDC_IOCTL_KMP_CUR_SHAPE_BMP: {
        std::string err;
        c.f.num("bmp_type", b[8]).num("cache", b[9]).num("width", b[12]).num("height", b[13])
            .num("and_depth", b[14]).num("xor_depth", b[15]).num("apdu_len", u32(16));
        if ((b[9] & 0x80) && (b[9] & 0x7F) >= m.ctxt.cur_shape_caches)
            return fail(c, EINVAL);
        if (c.len - 20 > m.ctxt.cur_shape_cache_size && (b[9] & 0x80))
            return fail(c, EMSGSIZE);
        if (m.cursor.shape_bmp(b, c.len, &err) != 0) {
            c.f.raw("error", jstr(err));
            return fail(c, EINVAL);
        }
        m.shape_bmp_count++;
        m.shown_slot = (b[9] & 0x80) ? (b[9] & 0x7F) : 0xFFFFFFFF;
        return 0;
    }
    case HDC_IOCTL_KMP_CUR_SHAPE: {
        std::string err;
        c.f.num("index", b[8]);
        if (b[8] >= m.ctxt.cur_shape_caches)
            return fail(c, EINVAL);
        m.shape_select_count++;
        /* The client shows a kept slot; an empty one leaves the cursor as it is. */
        if (m.cursor.shape_select(b[8], &err) == 0)
            m.shown_slot = b[8];
        else
            c.f.raw("empty_slot", "true");
        return 0;
    }
    case HDC_IOCTL_KMP_CUR_POS:
        m.pos_x = u16(8);
        m.pos_y = u16(10);
        c.f.num("x", m.pos_x).num("y", m.pos_y);
        return 0;
    case HDC_IOCTL_KMP_CUR_POS_IF_NEW: {
        uint32_t x = u16(0), y = u16(2);
        int is_new = x != m.pos_abs_x || y != m.pos_abs_y;
        m.pos_abs_x = x;
        m.pos_abs_y = y;
        m.pos_if_new_sent++;
        m.pos_if_new_new += is_new;
        c.f.num("abs_x", x).num("abs_y", y).raw("new", is_new ? "true" : "false");
        return 0;
    }
    case HDC_IOCTL_KMP_CUR_VIS:
        m.visible = b[8] ? 1 : 0;
        c.f.num("visible", b[8]);
        return 0;
    case HDC_IOCTL_KMP_CUR_IDLE_HIDE:
        m.idle_hide = u32(4);
        c.f.num("time", m.idle_hide);
        return 0;
    case HDC_IOCTL_KMP_CUR_SPD_GET:
        memcpy(b + 4, &m.cur_spd, 4);
        c.f.num("spd", m.cur_spd);
        return 0;
    case HDC_IOCTL_KMP_CUR_SPD_SET:
        c.f.num("spd", u32(4));
        if (u32(4) < 10 || u32(4) > 250)
            return fail(c, EINVAL);
        m.cur_spd = u32(4);
        return 0;
    }
    return fail(c, ENOTTY);
}

int handle_hcc(Ctx &c, unsigned code)
{
    Model &m = c.m;
    uint8_t *b = c.buf;
    switch (code) {
    case HCC_IOCTL_HMI_AVAIL_CMD_GET:
        memset(b, 0, c.len);
        memcpy(b, &m.cmd_map, 4);
        c.f.num("map", m.cmd_map);
        return 0;
    case HCC_IOCTL_HMI_VAR_GET:
        return hmi_var_get(c);
    case HCC_IOCTL_HMI_VAR_SET:
        return hmi_var_set(c);
    case HCC_IOCTL_HMI_LOCAL_VAR_GET: {
        sKAVO_ZYLO_HMI_LOCAL_VAR *v = (sKAVO_ZYLO_HMI_LOCAL_VAR *)b;
        c.f.num("var", v->var);
        if (v->var != KAVO_ZYLO_HMI_LOCAL_VAR_LOCAL_INFO)
            return fail(c, EINVAL);
        v->data.info.dev_type = m.dev_type;
        c.f.num("dev_type", m.dev_type);
        return 0;
    }
    case HCC_IOCTL_KMP_HDC_COMM_CTRL: {
        sKAVO_ZYLO_HCC_APDU_KMP_COMM_CTRL *r = (sKAVO_ZYLO_HCC_APDU_KMP_COMM_CTRL *)b;
        c.f.num("apdu_type", r->apdu_type).num("open_channel", r->open_channel);
        if (r->apdu_type != KAVO_ZYLO_HCC_APDU_KMP_TYPE_COMM_CTRL)
            return fail(c, EINVAL);
        m.chan_ctrl_open = r->open_channel ? 1 : 0;
        if (!r->open_channel)
            m.hdc_open = 0;
        return 0;
    }
    case HCC_IOCTL_KMP_PRI_CTXT_GET:
        if (!m.up())
            return fail(c, ENOLINK);
        memcpy(b, &m.ctxt, sizeof(m.ctxt));
        c.f.raw("client", jstr(m.client)).num("cur_shape_caches", m.ctxt.cur_shape_caches)
            .num("cur_shape_fadeout_enable", m.ctxt.cur_shape_fadeout_enable);
        return 0;
    case HCC_IOCTL_IMG_DISP_TOPO_SEND:
        if (!m.up())
            return fail(c, ENOLINK);
        memcpy(&m.disp_topo, b, sizeof(m.disp_topo));
        m.disp_topo_count++;
        c.f.num("apdu_type", m.disp_topo.apdu_type);
        return 0;
    case HDC_IOCTL_KMP_DISP_TOPO_SET:
        memcpy(&m.kmp_topo, b, sizeof(m.kmp_topo));
        m.kmp_topo_count++;
        c.f.num("num_active_displays", m.kmp_topo.num_active_displays)
            .num("desktop_width", m.kmp_topo.desktop_width);
        return 0;
    case HCC_IOCTL_IMG_CACHE_DISP_TOPO_GET: {
        sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *t = (sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *)b;
        if (m.up()) {
            m.monitors.set_caching(m.topo_caching != 0, (int)m.topo_not_active_reads);
            m.monitors.reply_topo(t);
            if (m.topo_not_active_reads)
                m.topo_not_active_reads--;
        } else {
            m.monitors.fill_topo(cCARDSIM_MONITORS::TOPO_NOT_ACTIVE, t);
        }
        for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++)
            if (m.topo_rate[i])
                t->topo.refresh_rate[i] = (uint8_t)m.topo_rate[i];
        c.f.num("rate0", t->topo.refresh_rate[0]).num("primary", t->topo.primary);
        return 0;
    }
    case HCC_IOCTL_IMG_USER_CFG_SET:
        memcpy(&m.img_qual_pref, b + 8, 4);
        memcpy(&m.img_b2l, b + 12, 4);
        c.f.num("image_qual_pref", m.img_qual_pref);
        return 0;
    case HCC_IOCTL_IMG_USER_CFG_REQ_GET:
        memcpy(b + 8, &m.img_qual_pref, 4);
        memcpy(b + 12, &m.img_b2l, 4);
        c.f.num("image_qual_pref", m.img_qual_pref).num("build_to_lossless_enable", m.img_b2l);
        return 0;
    case HCC_IOCTL_IMG_USER_CFG_CACHE_SET:
        memcpy(&m.img_cache_qual_pref, b + 8, 4);
        c.f.num("image_qual_pref", m.img_cache_qual_pref);
        return 0;
    }
    return fail(c, ENOTTY);
}

/* Fills a reply with non-zero bytes so that no text in it is terminated. */
void fill_garbage(unsigned code, uint8_t *b, uint32_t len)
{
    uint32_t from = (code == HCC_IOCTL_HMI_VAR_GET || code == HCC_IOCTL_HMI_VAR_SET) ? 4 : 0;
    if (len > from)
        memset(b + from, 'Z', len - from);
}

/* ---------------------------------------------------------------- server */

std::mutex g_mu;
std::condition_variable g_cv;
Model *g_model;

void log_entry(Model &m, int pid, const char *node, const std::string &code, const char *name,
               const std::string &req, const std::string &rsp, int rv, const std::string &fields)
{
    Obj o;
    o.num("seq", (long long)m.log.size() + 1).num("t_us", (long long)now_us()).num("pid", pid);
    o.raw("node", jstr(node)).raw("code", jstr(code)).raw("name", jstr(name));
    o.raw("req", jstr(req)).raw("rsp", jstr(rsp)).num("rv", rv).raw("fields", fields);
    m.log.push_back(o.str());
    m.log_code.push_back(code);
    g_cv.notify_all();
}

const char *node_name(int node) { return node == CARDSIM_NODE_HCC ? "hcc" : "hdc"; }

void serve_device(int fd, int node)
{
    for (;;) {
        sCARDSIM_REQ req;
        if (cardsim_read_all(fd, &req, sizeof(req)))
            break;
        if (req.len > CARDSIM_BMP_MAX_LEN)
            break;
        std::vector<uint8_t> buf(req.len);
        if (req.len && cardsim_read_all(fd, buf.data(), req.len))
            break;
        sCARDSIM_RSP rsp = {0, 0, req.len};
        {
            std::lock_guard<std::mutex> lock(g_mu);
            Model &m = *g_model;
            if (req.op == CARDSIM_OP_CLOSE) {
                log_entry(m, req.pid, node_name(node), "close", "close", "", "", 0, "{}");
                rsp.len = 0;
                cardsim_write_all(fd, &rsp, sizeof(rsp));
                break;
            }
            const sCARDSIM_CODE *cd = cardsim_code_find(req.code);
            std::string code = code_text(req.code);
            std::string before = hex(buf.data(), buf.size());
            Ctx c{m, buf.data(), req.len, Obj(), 0};
            if (!cd) {
                rsp.rv = -1;
                rsp.err = ENOTTY;
            } else if (take_failure(m, code)) {
                rsp.rv = -1;
                rsp.err = EIO;
                c.f.raw("injected", "true");
            } else {
                std::vector<uint8_t> orig = buf;
                rsp.rv = node == CARDSIM_NODE_HCC ? handle_hcc(c, req.code) : handle_hdc(c, req.code);
                rsp.err = c.err;
                if (rsp.rv < 0)
                    buf = orig; /* a failed request leaves the record as it was */
                else if (m.garbage.erase(req.code)) {
                    fill_garbage(req.code, buf.data(), req.len);
                    c.f.raw("garbage", "true");
                }
            }
            if (rsp.rv == 0 && m.result.count(code)) {
                rsp.rv = m.result[code]; /* drivers may answer success with a positive count */
                m.result.erase(code);
            }
            if (rsp.rv < 0)
                c.f.raw("errno", jstr(strerror(rsp.err)));
            log_entry(m, req.pid, node_name(node), code, cd ? cd->name : "unknown", before,
                      hex(buf.data(), buf.size()), rsp.rv, c.f.str());
        }
        if (cardsim_write_all(fd, &rsp, sizeof(rsp)) ||
            (req.len && cardsim_write_all(fd, buf.data(), req.len)))
            break;
    }
}

/* ---------------------------------------------------------------- control */

std::string state_json(Model &m)
{
    Obj o;
    for (const Key &k : m.keys)
        o.raw(k.name.c_str(), key_value(k));
    o.raw("session.up", m.up() ? "true" : "false").raw("session.client", jstr(m.client));
    o.raw("session.disc_way", jstr(m.disc_way));
    Obj dt;
    dt.num("count", m.disp_topo_count);
    std::string disps = "[";
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sKAVO_ZYLO_HCC_APDU_IMG_DISP &d = m.disp_topo.disp[i];
        Obj x;
        x.num("pos_x", d.pos_x).num("pos_y", d.pos_y).num("width", d.width).num("height", d.height)
            .num("rotation", d.rotation);
        disps += (i ? "," : "") + x.str();
    }
    dt.raw("disp", disps + "]");
    o.raw("disp_topo", dt.str());
    const sKAVO_ZYLO_HDC_KMP_DISP_TOPO &t = m.kmp_topo;
    Obj kt;
    kt.num("count", m.kmp_topo_count).num("twinview_active", t.twinview_active)
        .num("num_active_displays", t.num_active_displays).num("min_x", t.min_x).num("max_x", t.max_x)
        .num("min_y", t.min_y).num("max_y", t.max_y).num("desktop_width", t.desktop_width)
        .num("desktop_height", t.desktop_height).num("primary_width", t.primary_width)
        .num("primary_height", t.primary_height).num("desktop_x_tolerance", t.desktop_x_tolerance)
        .num("desktop_y_tolerance", t.desktop_y_tolerance);
    std::string kd = "[";
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sKAVO_ZYLO_HDC_KMP_DISP &d = t.displays[i];
        Obj x;
        x.num("active", d.active).num("min_pix_x", d.min_pix_x).num("min_pix_y", d.min_pix_y)
            .num("max_pix_x", d.max_pix_x).num("max_pix_y", d.max_pix_y).num("min_abs_x", d.min_abs_x)
            .num("min_abs_y", d.min_abs_y).num("max_abs_x", d.max_abs_x).num("max_abs_y", d.max_abs_y)
            .num("width", d.width).num("height", d.height).num("rotation", d.rotation);
        kd += (i ? "," : "") + x.str();
    }
    kt.raw("displays", kd + "]");
    o.raw("kmp_topo", kt.str());
    std::string mons = "[";
    bool first = true;
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sCARDSIM_MONITOR &mo = m.monitors.slot(i);
        if (!mo.present)
            continue;
        Obj x;
        x.num("slot", i).num("width", mo.width).num("height", mo.height).num("pos_x", mo.pos_x)
            .num("pos_y", mo.pos_y).num("rate", mo.rate).text("vid", mo.id.vid, sizeof(mo.id.vid))
            .text("pid", mo.id.pid, sizeof(mo.id.pid)).text("serial", mo.id.serial, sizeof(mo.id.serial))
            .text("name", mo.id.name, sizeof(mo.id.name));
        mons += (first ? "" : ",") + x.str();
        first = false;
    }
    o.raw("monitors", mons + "]");
    Obj cur;
    cur.raw("showing", m.cursor.showing() ? "true" : "false")
        .num("width", m.cursor.current().width).num("height", m.cursor.current().height);
    o.raw("cursor", cur.str());
    std::string fails = "{";
    first = true;
    for (auto &f : m.fail) {
        fails += (first ? "" : ",") + jstr(f.first) + ":" + (f.second < 0 ? "\"always\"" : std::to_string(f.second));
        first = false;
    }
    o.raw("fail", fails + "}");
    return o.str();
}

int cmd_session(Model &m, const std::vector<std::string> &a, std::string *out)
{
    if (a.size() >= 2 && a[1] == "down") {
        if (!m.up()) {
            *out = "session is already down\n";
            return 0;
        }
        session_down(m, "ctl");
        return 0;
    }
    if (a.size() < 2 || a[1] != "up") {
        *out = "usage: session up [--client zc|sc] [--mac TEXT] [--ip TEXT] [--monitors N] "
               "[--monitor SLOT:WxH+X+Y@HZ[:EDIDFILE]]... | session down\n";
        return 2;
    }
    std::string client = "zc", mac = "00-1B-9C-A0-B1-C2", ip = "192.168.50.40";
    cCARDSIM_MONITORS mons;
    std::string err;
    for (size_t i = 2; i < a.size(); i++) {
        if (i + 1 >= a.size()) {
            *out = "missing value for " + a[i] + "\n";
            return 2;
        }
        const std::string &o = a[i], &v = a[++i];
        if (o == "--client" && (v == "zc" || v == "sc"))
            client = v;
        else if (o == "--mac")
            mac = v;
        else if (o == "--ip")
            ip = v;
        else if (o == "--monitors" && mons.set_count(v, &err) == 0)
            ;
        else if (o == "--monitor" && mons.add_spec(v, &err) == 0)
            ;
        else {
            *out = (err.empty() ? "bad option " + o + " " + v : err) + "\n";
            return 2;
        }
    }
    mons.finish();
    if (m.up())
        session_down(m, "reconnect");
    m.client = client;
    client_profile(m, client);
    for (auto &o : m.ctxt_overrides)
        for (Key &k : m.keys)
            if (k.name == o.first)
                key_set(k, o.second, &err);
    m.monitors = mons;
    m.cursor.reset();
    m.shown_slot = 0xFFFFFFFF;
    set_text(m.sess.mac, sizeof(m.sess.mac), mac.c_str());
    set_text(m.sess.ip, sizeof(m.sess.ip), ip.c_str());
    session_transition(m, true);
    return 0;
}

int cmd_log(Model &m, const std::vector<std::string> &a, std::string *out)
{
    uint64_t since = 0;
    if (a.size() == 3 && a[1] == "--since")
        since = strtoull(a[2].c_str(), nullptr, 10);
    for (size_t i = since; i < m.log.size(); i++)
        *out += m.log[i] + "\n";
    return 0;
}

int cmd_wait(std::unique_lock<std::mutex> &lock, const std::vector<std::string> &a, std::string *out)
{
    if (a.size() < 2) {
        *out = "usage: wait CODE [--since SEQ] [--timeout S]\n";
        return 2;
    }
    std::string code = code_word(a[1]);
    uint64_t since = 0;
    double timeout = 10;
    for (size_t i = 2; i + 1 < a.size(); i += 2) {
        if (a[i] == "--since")
            since = strtoull(a[i + 1].c_str(), nullptr, 10);
        else if (a[i] == "--timeout")
            timeout = atof(a[i + 1].c_str());
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds((long)(timeout * 1000));
    for (;;) {
        Model &m = *g_model;
        for (size_t i = since; i < m.log_code.size(); i++) {
            if (m.log_code[i] == code) {
                *out = m.log[i] + "\n";
                return 0;
            }
        }
        if (g_cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            *out = "timeout waiting for " + code + "\n";
            return 1;
        }
    }
}

int run_ctl(const std::vector<std::string> &a, std::string *out)
{
    std::unique_lock<std::mutex> lock(g_mu);
    Model &m = *g_model;
    if (a.empty()) {
        *out = "usage: ctl session|set|fail|garbage|state|log|wait|cursor|reset ...\n";
        return 2;
    }
    const std::string &cmd = a[0];
    if (cmd == "session")
        return cmd_session(m, a, out);
    if (cmd == "set" && a.size() == 3) {
        for (Key &k : m.keys) {
            if (k.name == a[1]) {
                std::string err;
                if (key_set(k, a[2], &err)) {
                    *out = err + "\n";
                    return 2;
                }
                if (k.name.rfind("ctxt.", 0) == 0)
                    m.ctxt_overrides[k.name] = a[2];
                return 0;
            }
        }
        *out = "unknown key " + a[1] + " (see `state`)\n";
        return 2;
    }
    if (cmd == "fail" && a.size() >= 2) {
        std::string code = code_word(a[1]);
        std::string n = a.size() >= 3 ? a[2] : "1";
        if (n == "off" || n == "0")
            m.fail.erase(code);
        else if (n == "always")
            m.fail[code] = -1;
        else if (atol(n.c_str()) > 0)
            m.fail[code] = atol(n.c_str());
        else {
            *out = "usage: fail CODE [COUNT|always|off]\n";
            return 2;
        }
        return 0;
    }
    if (cmd == "result" && a.size() == 3 && atoi(a[2].c_str()) > 0) {
        m.result[code_word(a[1])] = atoi(a[2].c_str());
        return 0;
    }
    if (cmd == "garbage" && a.size() == 2) {
        m.garbage[(unsigned)strtoul(a[1].c_str(), nullptr, 16)] = true;
        return 0;
    }
    if (cmd == "state") {
        *out = state_json(m) + "\n";
        return 0;
    }
    if (cmd == "log")
        return cmd_log(m, a, out);
    if (cmd == "wait")
        return cmd_wait(lock, a, out);
    if (cmd == "cursor" && a.size() == 3 && a[1] == "--png") {
        std::string err;
        if (!m.cursor.showing()) {
            *out = "the client shows no cursor shape yet\n";
            return 1;
        }
        if (m.cursor.write_png(a[2].c_str(), &err)) {
            *out = err + "\n";
            return 1;
        }
        return 0;
    }
    if (cmd == "reset") {
        delete g_model;
        g_model = new Model();
        return 0;
    }
    *out = "unknown or malformed command: " + cmd + "\n";
    return 2;
}

void serve_ctl(int fd)
{
    uint32_t argc;
    std::vector<std::string> args;
    if (cardsim_read_all(fd, &argc, 4) || argc > 64)
        return;
    for (uint32_t i = 0; i < argc; i++) {
        uint32_t n;
        if (cardsim_read_all(fd, &n, 4) || n > 4096)
            return;
        std::string s(n, '\0');
        if (n && cardsim_read_all(fd, &s[0], n))
            return;
        args.push_back(s);
    }
    std::string out;
    int32_t status = run_ctl(args, &out);
    uint32_t len = (uint32_t)out.size();
    cardsim_write_all(fd, &status, 4);
    cardsim_write_all(fd, &len, 4);
    cardsim_write_all(fd, out.data(), out.size());
}

void serve_conn(int fd)
{
    char magic[4];
    if (cardsim_read_all(fd, magic, 4) == 0) {
        if (memcmp(magic, CARDSIM_MAGIC_CTL, 4) == 0) {
            serve_ctl(fd);
        } else if (memcmp(magic, CARDSIM_MAGIC_DEV, 4) == 0) {
            int32_t rest[2];
            if (cardsim_read_all(fd, rest, sizeof(rest)) == 0 &&
                (rest[0] == CARDSIM_NODE_HCC || rest[0] == CARDSIM_NODE_HDC)) {
                int32_t status;
                {
                    std::lock_guard<std::mutex> lock(g_mu);
                    Model &m = *g_model;
                    bool present = rest[0] == CARDSIM_NODE_HCC ? m.hcc_present : m.hdc_present;
                    status = !present ? ENOENT : take_failure(m, "open") ? EIO : 0;
                    Obj f;
                    f.text("path", rest[0] == CARDSIM_NODE_HCC ? KAVO_ZYLO_HCC_DEV_PATH : KAVO_ZYLO_HDC_DEV_PATH, 64);
                    if (status)
                        f.raw("errno", jstr(strerror(status)));
                    log_entry(m, rest[1], node_name(rest[0]), "open", "open", "", "", status ? -1 : 0, f.str());
                }
                if (cardsim_write_all(fd, &status, 4) == 0 && status == 0)
                    serve_device(fd, rest[0]);
            }
        }
    }
    close(fd);
}

std::string g_socket_path;

void on_signal(int)
{
    unlink(g_socket_path.c_str());
    _exit(0);
}

} // namespace

int cardsim_serve(const std::string &socket_path)
{
    struct sockaddr_un addr;
    if (cardsim_unix_addr(socket_path.c_str(), &addr)) {
        fprintf(stderr, "zylo_cardsim: socket path too long: %s\n", socket_path.c_str());
        return 2;
    }
    g_model = new Model();
    g_socket_path = socket_path;
    int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(socket_path.c_str());
    if (lfd < 0 || bind(lfd, (struct sockaddr *)&addr, sizeof(addr)) < 0 || listen(lfd, 64) < 0) {
        fprintf(stderr, "zylo_cardsim: cannot listen on %s: %s\n", socket_path.c_str(), strerror(errno));
        return 1;
    }
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    signal(SIGPIPE, SIG_IGN);
    for (;;) {
        int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            fprintf(stderr, "zylo_cardsim: accept: %s\n", strerror(errno));
            return 1;
        }
        std::thread(serve_conn, fd).detach();
    }
}

int cardsim_ctl(const std::string &socket_path, const std::vector<std::string> &args, std::string *out)
{
    struct sockaddr_un addr;
    if (cardsim_unix_addr(socket_path.c_str(), &addr)) {
        *out = "socket path too long\n";
        return 2;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (struct sockaddr *)&addr, sizeof(addr)) < 0) {
        *out = "cannot reach the simulator at " + socket_path + ": " + strerror(errno) + "\n";
        if (fd >= 0)
            close(fd);
        return 3;
    }
    uint32_t argc = (uint32_t)args.size();
    int ok = cardsim_write_all(fd, CARDSIM_MAGIC_CTL, 4) == 0 && cardsim_write_all(fd, &argc, 4) == 0;
    for (const std::string &s : args) {
        uint32_t n = (uint32_t)s.size();
        ok = ok && cardsim_write_all(fd, &n, 4) == 0 && cardsim_write_all(fd, s.data(), n) == 0;
    }
    int32_t status = 3;
    uint32_t len = 0;
    if (!ok || cardsim_read_all(fd, &status, 4) || cardsim_read_all(fd, &len, 4)) {
        close(fd);
        *out = "the simulator closed the connection\n";
        return 3;
    }
    out->assign(len, '\0');
    if (len && cardsim_read_all(fd, &(*out)[0], len))
        status = 3;
    close(fd);
    return status;
}
