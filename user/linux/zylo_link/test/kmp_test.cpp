/* KMP controls against the card simulator. */
#include <gtest/gtest.h>

#include <string>

#include "cardsim_client.h"
#include "link_fixture.h"
#include "kavo_zylo_link.h"

using cardsim::le32;

namespace {

struct KmpFixture : LinkFixture {
    void session_up(const char *client) { session("up", client); }
};

TEST_F(KmpFixture, SpeedBounds)
{
    session_up("zc");
    const struct {
        UINT32 spd;
        INT32 want;
    } cases[] = {{9, KAVO_ERR_INVALID_ARG}, {10, 0}, {250, 0}, {251, KAVO_ERR_INVALID_ARG}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.spd);
        uint64_t since = sim.last_seq();
        EXPECT_EQ(c.want, link.lcur_spd_set(c.spd));
        EXPECT_EQ(c.want ? 0 : 1, count("0x790c", since));
    }
}

TEST_F(KmpFixture, ShapeIndexBound)
{
    session_up("zc");
    UINT16 n = link.kmp_pri_ctxt().cur_shape_caches;
    ASSERT_GT(n, 0);
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.lcur_change_shape_send((UINT8)n));
    EXPECT_EQ(0, link.lcur_change_shape_send((UINT8)(n - 1)));
}

TEST_F(KmpFixture, InvalidContextIsZeroClientAndRefusesFeatures)
{
    EXPECT_FALSE(link.kmp_pri_ctxt_valid());
    EXPECT_EQ(0, link.is_client_sc());
    EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.lcur_lkbd_enable());
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.lcur_change_shape_send(0));
}

TEST_F(KmpFixture, RepeatSetSkipsTheAvailabilityCheckGetDoesNot)
{
    ASSERT_EQ(0, sim.ctl({"set", "ctxt.kbd_client_auto_repeat_supported", "0"}));
    session_up("zc");
    uint64_t since = sim.last_seq();
    UINT16 d = 0, i = 0;
    EXPECT_EQ(0, link.lkbd_repeat_rates_set(500, 33));
    EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.lkbd_repeat_rates_get(&d, &i));
    auto log = sim.log(since);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("0x7904", log[0].code);
    EXPECT_EQ(33u, cardsim::le16(log[0].req, 8));
    EXPECT_EQ(500u, cardsim::le16(log[0].req, 10));
}

TEST_F(KmpFixture, CloseStillSendsHdcCloseWhenControlFails)
{
    ASSERT_EQ(0, sim.ctl({"fail", "0x7821", "1"}));
    uint64_t since = sim.last_seq();
    EXPECT_NE(0, link.hdc_close());
    EXPECT_EQ(1, count("0x7901", since));
}

TEST_F(KmpFixture, DriverModeOnlyRelativeSendsOne)
{
    const struct {
        eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE mode;
        UINT32 wire;
    } cases[] = {{KAVO_ZYLO_LINK_LCUR_ABS_ALG, 0},
                 {KAVO_ZYLO_LINK_LCUR_REL_ALG, 1},
                 {KAVO_ZYLO_LINK_LCUR_MAX_ALG, 0}};
    for (const auto &c : cases) {
        uint64_t since = sim.last_seq();
        ASSERT_EQ(0, link.kmp_driver_cfg_set(c.mode));
        auto log = sim.log(since);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(c.wire, le32(log.back().req, 0));
    }
}

} // namespace
