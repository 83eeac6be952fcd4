/*
 * zylo_link_demo: drives the card link layer the way the agent does at a
 * session start, so the demo can show what the card and the client receive:
 * it waits for a session, opens the cursor channel, reads the client's cached
 * topology, sends a display topology built from it, switches the local
 * cursor on and hands over a cursor shape twice (the second time the client
 * already keeps it, so only a slot select goes out) and a pointer position.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kavo_log.h"
#include "kavo_zylo_link.h"

static int wait_for_session(cKAVO_ZYLO_LINK &link, sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sl)
{
    for (int i = 0; i < 50; i++) {
        INT change = 0;
        link.link_heartbeat(&change, sl);
        if (sl->flags & KAVO_ZYLO_SESS_LINK_FLAG_UP)
            return 1;
        usleep(100 * 1000);
    }
    return 0;
}

/* The client's monitors side by side, in slot order, as the host screens. */
static void topology_from_client(const sKAVO_ZYLO_LINK_CACHE_DISP_TOPO &cached,
                                 sKAVO_ZYLO_LINK_DISP_TOPO *topo)
{
    memset(topo, 0, sizeof(*topo));
    INT32 x = 0;
    for (int i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        const sKAVO_ZYLO_LINK_DISP2 &d = cached.disp[i];
        if (!d.width || !d.height)
            continue;
        sKAVO_ZYLO_LINK_DISP &out = topo->disp[topo->num_disp++];
        out.x_origin = x;
        out.y_origin = 0;
        out.width = d.width;
        out.height = d.height;
        out.rotation = KAVO_ZYLO_LINK_DISP_ROTATION_0;
        x += d.width;
    }
}

/* A 32 x 32 arrow, 4 bytes a pixel (B, G, R, A) as the X server hands it. */
static void make_arrow(UINT8 *px)
{
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            UINT8 *p = px + (y * 32 + x) * 4;
            int inside = x <= y / 2 + 1 && y < 24;
            int edge = inside && (x == 0 || x == y / 2 + 1 || y == 23);
            UINT8 v = edge ? 0x00 : 0xFF;
            p[0] = p[1] = p[2] = inside ? v : 0;
            p[3] = inside ? 0xFF : 0;
        }
    }
}

int main()
{
    m_log_level = getenv("ZYLO_DEMO_DEBUG") ? KAVO_LOG_DEBUG : KAVO_LOG_ERROR;
    cKAVO_ZYLO_LINK link;
    if (!link.is_ready()) {
        fprintf(stderr, "zylo_link_demo: the card's device nodes are not there\n");
        return 1;
    }
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sl;
    memset(&sl, 0, sizeof(sl));
    if (!wait_for_session(link, &sl)) {
        fprintf(stderr, "zylo_link_demo: no session came up\n");
        return 1;
    }
    char mac[sizeof(sl.mac) + 1];
    kavo_text_copy(mac, sizeof(mac), sl.mac, sizeof(sl.mac));
    printf("session up with client %s (%s client)\n", mac,
           link.is_client_sc() ? "software" : "zero");

    link.start();
    printf("hdc_open: %d\n", link.hdc_open());

    sKAVO_ZYLO_LINK_CACHE_DISP_TOPO cached;
    INT32 rv = link.cache_disp_topology_get(&cached);
    printf("cached topology: %d, %u monitor(s)\n", rv, cached.num_disp);
    for (UINT32 i = 0; i < KAVO_ZYLO_MAX_DISPLAYS; i++) {
        if (!cached.disp[i].width)
            continue;
        printf("  slot %u: %ux%u @ %u Hz  %s %s %s '%s'\n", i, cached.disp[i].width,
               cached.disp[i].height, cached.disp[i].refresh_rate, cached.iden[i].vid,
               cached.iden[i].pid, cached.iden[i].serial, cached.iden[i].name);
    }

    sKAVO_ZYLO_LINK_DISP_TOPO topo;
    topology_from_client(cached, &topo);
    if (topo.num_disp == 0) {
        topo.num_disp = 1;
        topo.disp[0].width = 1920;
        topo.disp[0].height = 1080;
    }
    printf("disp_topology_send: %d\n",
           link.disp_topology_send(&topo, topo.disp[0].width, topo.disp[0].height,
                                   topo.num_disp > 1));
    printf("lcur_lkbd_enable: %d\n", link.lcur_lkbd_enable());
    printf("kmp_driver_cfg_set(absolute): %d\n", link.kmp_driver_cfg_set(KAVO_ZYLO_LINK_LCUR_ABS_ALG));

    static UINT8 arrow[32 * 32 * 4];
    make_arrow(arrow);
    printf("cursor shape valid: %d\n", link.lcur_shape_size_valid(32, 32, 0));
    for (int i = 0; i < 2; i++)
        printf("lcur_shape_bmp_send #%d: %d\n", i + 1,
               link.lcur_shape_bmp_send(1, 1, 32, 32, 0, 0, arrow, sizeof(arrow),
                                        KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA));
    printf("lcur_pointer_location_set_if_new: %d\n",
           link.lcur_pointer_location_set_if_new(32768, 16384));
    link.stop();
    return 0;
}
