/* Image channel against the card simulator: bytes checked at wire offsets. */
#include <gtest/gtest.h>
#include <string.h>

#include "cardsim_client.h"
#include "kavo_zylo_link.h"

using cardsim::le32s;

namespace {

struct ImgFixture : ::testing::Test {
    cardsim::Sim sim;
    cKAVO_ZYLO_LINK link;

    void SetUp() override
    {
        ASSERT_TRUE(sim.ok()) << sim.error();
        ASSERT_EQ(0, sim.ctl({"session", "up", "--monitors", "2"}));
        ASSERT_EQ(0, link.start());
    }
    /* The last request of `code` logged after `since`. */
    cardsim::LogEntry last(const char *code, uint64_t since)
    {
        cardsim::LogEntry found;
        for (auto &e : sim.log(since))
            if (e.code == code)
                found = e;
        return found;
    }
};

struct TopoCase {
    const char *what;
    sKAVO_ZYLO_LINK_DISP d0, d1;
    INT32 min_x, max_x, desk_w, desk_h, tol_x, tol_y;
    INT32 abs0_min_x, abs1_min_x, abs1_max_x;
};

TEST_F(ImgFixture, DesktopBoxAndAbsoluteScaleOnTheWire)
{
    const TopoCase cases[] = {
        {"side by side", {0, 0, 1920, 1080, 0}, {1920, 0, 1920, 1080, 0}, 0, 3839, 3840, 1080, 51,
         182, 0, 32768, 65535},
        {"left of origin", {-1280, 0, 1280, 1024, 0}, {0, 0, 1920, 1080, 0}, -1280, 1919, 3200,
         1080, 61, 182, -1280 * 65536 / 3200, 0, (1919 * 65536 + 65536) / 3200 - 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sKAVO_ZYLO_LINK_DISP_TOPO t;
        memset(&t, 0, sizeof(t));
        t.num_disp = 2;
        t.disp[0] = c.d0;
        t.disp[1] = c.d1;
        uint64_t since = sim.last_seq();
        ASSERT_EQ(0, link.disp_topology_send(&t, 1920, 1080, 1));
        auto e = last("0x7910", since);
        ASSERT_EQ(240u, e.req.size());
        EXPECT_EQ(1, le32s(e.req, 0));
        EXPECT_EQ(2, le32s(e.req, 4));
        EXPECT_EQ(c.min_x, le32s(e.req, 8));
        EXPECT_EQ(c.max_x, le32s(e.req, 12));
        EXPECT_EQ(c.desk_w, le32s(e.req, 24));
        EXPECT_EQ(c.desk_h, le32s(e.req, 28));
        EXPECT_EQ(c.tol_x, le32s(e.req, 40));
        EXPECT_EQ(c.tol_y, le32s(e.req, 44));
        EXPECT_EQ(c.abs0_min_x, le32s(e.req, 48 + 20));
        EXPECT_EQ(c.abs1_min_x, le32s(e.req, 96 + 20));
        EXPECT_EQ(c.abs1_max_x, le32s(e.req, 96 + 28));
    }
}

TEST_F(ImgFixture, AllFourSlotsGoToTheCardWhateverNumDisp)
{
    sKAVO_ZYLO_LINK_DISP_TOPO t;
    memset(&t, 0, sizeof(t));
    t.num_disp = 2;
    for (int i = 0; i < 4; i++)
        t.disp[i] = {i * 800, 0, 800, 600, 0};
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, link.disp_topology_send(&t, 800, 600, 0));
    auto e = last("0x7841", since);
    ASSERT_EQ(72u, e.req.size());
    EXPECT_EQ(12, le32s(e.req, 0));
    EXPECT_EQ(2400, le32s(e.req, 8 + 3 * 16));
}

TEST_F(ImgFixture, BadArgumentsSendNothing)
{
    sKAVO_ZYLO_LINK_DISP_TOPO t;
    memset(&t, 0, sizeof(t));
    t.num_disp = 5;
    uint64_t since = sim.last_seq();
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.disp_topology_send(&t, 1920, 1080, 0));
    t.num_disp = 1;
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.disp_topology_send(&t, 0, 1080, 0));
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.disp_topology_send(nullptr, 1920, 1080, 0));
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.img_user_cfg_set(101));
    EXPECT_TRUE(sim.log(since).empty());
}

TEST_F(ImgFixture, FarOriginsStayDefined)
{
    sKAVO_ZYLO_LINK_DISP_TOPO t;
    memset(&t, 0, sizeof(t));
    t.num_disp = 2;
    t.disp[0] = {INT32_MAX, INT32_MIN, 65535, 65535, 0};
    t.disp[1] = {INT32_MIN, INT32_MAX, 65535, 65535, 0};
    EXPECT_EQ(0, link.disp_topology_send(&t, 1, 1, 0));
}

TEST_F(ImgFixture, QualityPreferenceSet)
{
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, link.img_user_cfg_set(100));
    auto e = last("0x7845", since);
    ASSERT_EQ(16u, e.req.size());
    EXPECT_EQ(22, le32s(e.req, 0));
    EXPECT_EQ(100, le32s(e.req, 8));
}

} // namespace
