/*
 * The link object's maps and heartbeat. The heartbeat keeps its state for the
 * whole process, so the heartbeat story is one test in order.
 */
#include <string.h>

#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "cardsim_client.h"
#include "kavo_zylo_link.h"

namespace {

INT beat(cKAVO_ZYLO_LINK &link, sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sl)
{
    INT change = -1;
    link.link_heartbeat(&change, sl);
    return change;
}

TEST(Heartbeat, ReportsChangesByTheTransitionCount)
{
    cardsim::Sim sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    LogCapture cap;
    cKAVO_ZYLO_LINK link;
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sl;

    /* the first successful poll reports the initial state, even a session down */
    EXPECT_EQ(1, beat(link, &sl));
    EXPECT_EQ(0, sl.flags & 1);
    EXPECT_EQ(0, beat(link, &sl));
    EXPECT_FALSE(link.kmp_pri_ctxt_valid());
    EXPECT_EQ(0, link.bmp_cache().max_num_bmps);

    /* a session comes up: the change reads the client's context and builds the cache */
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    EXPECT_EQ(1, beat(link, &sl));
    EXPECT_TRUE(link.kmp_pri_ctxt_valid());
    EXPECT_EQ(16, link.bmp_cache().max_num_bmps);

    /* a failed poll reports nothing and drops the context ... */
    ASSERT_EQ(0, sim.ctl({"session", "down"}));
    ASSERT_EQ(0, sim.ctl({"fail", "0x7802"}));
    EXPECT_EQ(0, beat(link, &sl));
    EXPECT_FALSE(link.kmp_pri_ctxt_valid());
    /* ... and the next good poll compares against the count kept before it */
    EXPECT_EQ(1, beat(link, &sl));
    EXPECT_EQ(0, beat(link, &sl));

    /* several transitions between two polls are one change */
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    ASSERT_EQ(0, sim.ctl({"session", "down"}));
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    EXPECT_EQ(1, beat(link, &sl));
    EXPECT_EQ(0, beat(link, &sl));

    /* the count wraps from 255 to 0 */
    ASSERT_EQ(0, sim.ctl({"session", "down"}));
    ASSERT_EQ(0, sim.ctl({"set", "sess.transition_cnt", "255"}));
    EXPECT_EQ(1, beat(link, &sl));
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    EXPECT_EQ(1, beat(link, &sl));
    EXPECT_EQ(0, sl.transition_cnt);

    /* a peer address that fills its field is logged within the field */
    ASSERT_EQ(0, sim.ctl({"session", "down"}));
    ASSERT_EQ(0, sim.ctl({"garbage", "0x7802"}));
    EXPECT_EQ(1, beat(link, &sl));
    std::string t = cap.text();
    EXPECT_NE(std::string::npos, t.find("IP=" + std::string(16, 'Z') + "\n")) << t;
}

TEST(Maps, CommandBitsClearMakeEveryPredicateUnavailable)
{
    cardsim::Sim sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_EQ(0, sim.ctl({"set", "hmi.cmd_map", "0x1"}));
    LogCapture cap;
    cKAVO_ZYLO_LINK link;
    uint64_t since = sim.last_seq();
    INT32 (cKAVO_ZYLO_LINK::*preds[])() = {
        &cKAVO_ZYLO_LINK::link_info_get_avail,  &cKAVO_ZYLO_LINK::ipv4_cfg_get_avail,
        &cKAVO_ZYLO_LINK::sess_link_get_avail,  &cKAVO_ZYLO_LINK::sess_stat_get_avail,
        &cKAVO_ZYLO_LINK::cached_topo_get_avail, &cKAVO_ZYLO_LINK::img_user_ext_cfg_get_avail,
        &cKAVO_ZYLO_LINK::sess_link_disc_avail, &cKAVO_ZYLO_LINK::sess_stat_reset_avail,
        &cKAVO_ZYLO_LINK::sess_link_disc_with_reason_avail,
        &cKAVO_ZYLO_LINK::img_user_ext_cfg_set_avail};
    for (auto p : preds)
        EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, (link.*p)());
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sl;
    EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.sess_link_get(&sl));
    EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.sess_link_disc(512));
    EXPECT_TRUE(sim.log(since).empty()); /* nothing was asked */

    /* only the command map was read at creation */
    int maps = 0;
    for (auto &e : sim.log())
        maps += e.code != "open";
    EXPECT_EQ(1, maps);
}

TEST(Link, StartStopAndReadiness)
{
    cardsim::Sim sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    LogCapture cap;
    {
        cKAVO_ZYLO_LINK link;
        EXPECT_TRUE(link.is_ready());
        uint64_t since = sim.last_seq();
        link.stop(); /* never started: sends nothing */
        EXPECT_TRUE(sim.log(since).empty());
        EXPECT_EQ(0, link.start());
        EXPECT_EQ(0, link.start());
        EXPECT_EQ(1, cap.count("already started"));
        link.stop();
        int closes = 0;
        for (auto &e : sim.log(since))
            closes += e.code == "0x7821" || e.code == "0x7901";
        EXPECT_EQ(2, closes);
    }
    ASSERT_EQ(0, sim.ctl({"set", "dev.hdc_present", "0"}));
    cKAVO_ZYLO_LINK half;
    EXPECT_FALSE(half.is_ready());
    EXPECT_EQ(1, cap.count("failed to initialize Zylo HDC device object (ret=-510)"));
}

} // namespace
