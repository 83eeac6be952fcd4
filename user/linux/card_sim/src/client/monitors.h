/*
 * The simulated client's monitors: parsing of --monitors / --monitor and
 * the cached topology reply (0x7843) built from them.
 */
#ifndef CARDSIM_MONITORS_H
#define CARDSIM_MONITORS_H

#include <string>
#include <vector>

#include "edid.h"
#include "kavo_zylo_apdu.h"

struct sCARDSIM_MONITOR {
    bool present = false;
    int width = 0;
    int height = 0;
    int pos_x = 0;
    int pos_y = 0;
    int rate = 0;
    sCARDSIM_EDID edid{};
    sCARDSIM_IDENTITY id{};
};

class cCARDSIM_MONITORS
{
public:
    enum eTOPO_STATE { TOPO_ACTIVE, TOPO_NOT_ACTIVE, TOPO_NO_CACHING };

    cCARDSIM_MONITORS();

    /* --monitors N: N built-in 1920x1080@60 monitors side by side. */
    int set_count(const std::string &arg, std::string *err);
    /* --monitor SLOT:WxH+X+Y@HZ[:EDIDFILE], repeatable. */
    int add_spec(const std::string &spec, std::string *err);
    /* With no option given, one built-in monitor in slot 0. */
    void finish();

    const sCARDSIM_MONITOR &slot(int i) const { return m_slot[i]; }
    int count() const;
    int primary() const;

    void fill_topo(eTOPO_STATE state, sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *rsp) const;

    /* The client's caching mode for the 0x7843 reply: the first `not_active_reads`
     * reads answer "not active yet", later ones the topology (or no caching). */
    void set_caching(bool caching, int not_active_reads);
    void reply_topo(sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO *rsp);

private:
    bool m_caching = true;
    int m_not_active_reads = 0;
    sCARDSIM_MONITOR m_slot[KAVO_ZYLO_MAX_DISPLAYS];
    bool m_given;
};

#endif
