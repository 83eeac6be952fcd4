/* The client's cached topology as the card reports it. */
#include <string.h>

#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "cardsim_client.h"
#include "kavo_zylo_link.h"

namespace {

struct TopoFixture : ::testing::Test {
    cardsim::Sim sim;
    LogCapture cap;
    void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error(); }
};

TEST_F(TopoFixture, ActiveTwoMonitorsWithIdentities)
{
    ASSERT_EQ(0, sim.ctl({"session", "up", "--monitors", "2"}));
    cKAVO_ZYLO_LINK link;
    sKAVO_ZYLO_LINK_CACHE_DISP_TOPO t;
    uint64_t since = sim.last_seq();
    EXPECT_EQ(0, link.cache_disp_topology_get(&t));
    EXPECT_EQ(2u, t.num_disp);
    EXPECT_EQ(1920, t.disp[1].x_origin);
    EXPECT_EQ(60, t.disp[1].refresh_rate);
    EXPECT_STREQ("ACM", t.iden[0].vid);
    EXPECT_STREQ("A1B", t.iden[0].pid);
    EXPECT_STREQ("Bluefin Pro27", t.iden[1].name);
    auto log = sim.log(since);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("0x7843", log[0].code);
    ASSERT_EQ(272u, log[0].req.size());
    EXPECT_EQ(16u, cardsim::le32(log[0].req, 0)); /* type */
    EXPECT_EQ(0u, cardsim::le32(log[0].req, 4));  /* pri_num */
}

TEST_F(TopoFixture, RefreshRateStatuses)
{
    const struct {
        const char *what;
        const char *monitor;
        const char *rate3;
        INT32 want;
        UINT32 num_disp;
    } cases[] = {
        /* slot 0 at 60 Hz, slots 1 and 2 empty at rate 0, slot 3 empty at 0xFE */
        {"no caching", "0:1920x1080+0+0@60", "254", KAVO_ERR_NO_CACHING, 2},
        {"not active", "0:1920x1080+0+0@60", "255", KAVO_ERR_NOT_ACTIVE, 2},
        {"61 Hz", "0:1920x1080+0+0@61", "0", KAVO_ERR_NOT_INIT, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, sim.ctl({"session", "up", "--monitor", c.monitor}));
        ASSERT_EQ(0, sim.ctl({"set", "topo.rate3", c.rate3}));
        cKAVO_ZYLO_LINK link;
        sKAVO_ZYLO_LINK_CACHE_DISP_TOPO t;
        EXPECT_EQ(c.want, link.cache_disp_topology_get(&t));
        EXPECT_EQ(c.num_disp, t.num_disp);
        EXPECT_EQ(1920, t.disp[0].width); /* the filled slot is kept with every status */
        EXPECT_EQ(0, t.disp[3].refresh_rate);
    }
    EXPECT_EQ(1, cap.count("disp0: invalid refresh rate = 61"));
}

TEST_F(TopoFixture, NotOfferedAndFullIdentityFields)
{
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    {
        /* every byte of the reply filled: the identity texts still end in NUL */
        cKAVO_ZYLO_LINK link;
        ASSERT_EQ(0, sim.ctl({"garbage", "0x7843"}));
        sKAVO_ZYLO_LINK_CACHE_DISP_TOPO t;
        EXPECT_EQ(KAVO_ERR_NOT_INIT, link.cache_disp_topology_get(&t)); /* rate 0x5A */
        EXPECT_EQ(4u, t.num_disp);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(std::string(3, 'Z'), t.iden[i].vid);
            EXPECT_EQ(std::string(4, 'Z'), t.iden[i].pid);
            EXPECT_EQ(std::string(13, 'Z'), t.iden[i].serial);
            EXPECT_EQ(std::string(13, 'Z'), t.iden[i].name);
        }
    }
    ASSERT_EQ(0, sim.ctl({"set", "hmi.get_map", std::to_string(0x284F & ~(1u << 11))}));
    cKAVO_ZYLO_LINK link;
    sKAVO_ZYLO_LINK_CACHE_DISP_TOPO t;
    uint64_t since = sim.last_seq();
    EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.cache_disp_topology_get(&t));
    EXPECT_TRUE(sim.log(since).empty());
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.cache_disp_topology_get(nullptr));
}

} // namespace
