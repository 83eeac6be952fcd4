#include "monitors.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

TEST(Monitors, DefaultIsOneBuiltinInSlotZero)
{
    cCARDSIM_MONITORS m;
    m.finish();
    EXPECT_EQ(1, m.count());
    EXPECT_TRUE(m.slot(0).present);
    EXPECT_EQ(1920, m.slot(0).width);
    EXPECT_EQ(60, m.slot(0).rate);
}

TEST(Monitors, CountPlacesDistinctMonitorsSideBySide)
{
    cCARDSIM_MONITORS m;
    std::string err;
    ASSERT_EQ(0, m.set_count("3", &err));
    m.finish();
    EXPECT_EQ(3, m.count());
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(1920 * i, m.slot(i).pos_x);
        EXPECT_EQ(0, m.slot(i).pos_y);
        for (int j = 0; j < i; j++)
            EXPECT_STRNE(m.slot(i).id.vid, m.slot(j).id.vid);
    }
    EXPECT_FALSE(m.slot(3).present);
    for (const char *bad : { "0", "5", "-1", "2x", "" }) {
        EXPECT_NE(0, m.set_count(bad, &err)) << bad;
        EXPECT_NE(std::string::npos, err.find("--monitors")) << bad;
    }
}

TEST(Monitors, SpecTable)
{
    struct {
        const char *spec;
        bool ok;
        int slot, w, h, x, y, hz;
        const char *err;
    } cases[] = {
        { "0:1920x1080+0+0@60", true, 0, 1920, 1080, 0, 0, 60, "" },
        { "3:800x600-800+-20@75", true, 3, 800, 600, -800, -20, 75, "" },
        { "1:65535x1+2147483647+0@255", true, 1, 65535, 1, 2147483647, 0, 255, "" },
        { "4:1920x1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "slot" },
        { "-1:1920x1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "slot" },
        { "0 1920x1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "slot" },
        { "0:0x1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "size" },
        { "0:65536x1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "size" },
        { "0:1920*1080+0+0@60", false, 0, 0, 0, 0, 0, 0, "size" },
        { "0:1920x1080+0@60", false, 0, 0, 0, 0, 0, 0, "position" },
        { "0:1920x1080+2147483648+0@60", false, 0, 0, 0, 0, 0, 0, "position" },
        { "0:1920x1080+0+0@0", false, 0, 0, 0, 0, 0, 0, "refresh" },
        { "0:1920x1080+0+0@256", false, 0, 0, 0, 0, 0, 0, "refresh" },
        { "0:1920x1080+0+0", false, 0, 0, 0, 0, 0, 0, "refresh" },
        { "0:1920x1080+0+0@60Hz", false, 0, 0, 0, 0, 0, 0, "refresh" },
        { "0:1920x1080+0+0@60:", false, 0, 0, 0, 0, 0, 0, "EDID" },
        { "0:1920x1080+0+0@60:/nonexistent/edid.bin", false, 0, 0, 0, 0, 0, 0, "cannot open" },
    };
    for (auto &c : cases) {
        cCARDSIM_MONITORS m;
        std::string err;
        int rv = m.add_spec(c.spec, &err);
        if (!c.ok) {
            EXPECT_NE(0, rv) << c.spec;
            EXPECT_NE(std::string::npos, err.find(c.err)) << c.spec << ": " << err;
            continue;
        }
        ASSERT_EQ(0, rv) << c.spec << ": " << err;
        const sCARDSIM_MONITOR &s = m.slot(c.slot);
        EXPECT_TRUE(s.present);
        EXPECT_EQ(c.w, s.width);
        EXPECT_EQ(c.h, s.height);
        EXPECT_EQ(c.x, s.pos_x);
        EXPECT_EQ(c.y, s.pos_y);
        EXPECT_EQ(c.hz, s.rate);
        EXPECT_EQ(1, m.count());
    }
}

TEST(Monitors, CacheReplyStates)
{
    cCARDSIM_MONITORS m;
    std::string err;
    sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO rsp;

    ASSERT_EQ(0, m.add_spec("2:1280x1024-1280+0@75", &err));
    ASSERT_EQ(0, m.add_spec("0:1920x1080+0+0@60", &err));
    m.finish();

    m.fill_topo(cCARDSIM_MONITORS::TOPO_ACTIVE, &rsp);
    EXPECT_EQ((UINT32)KAVO_ZYLO_HCC_APDU_IMG_TYPE_CACHE_DISP_TOPO_GET, rsp.apdu_type);
    EXPECT_EQ(0u, rsp.topo.primary);
    EXPECT_EQ(60, rsp.topo.refresh_rate[0]);
    EXPECT_EQ(0, rsp.topo.refresh_rate[1]);
    EXPECT_EQ(75, rsp.topo.refresh_rate[2]);
    EXPECT_EQ(0, rsp.topo.refresh_rate[3]);
    EXPECT_EQ(-1280, rsp.topo.topology[2].pos_x);
    EXPECT_EQ(1024, rsp.topo.topology[2].height);
    EXPECT_EQ(0u, rsp.topo.topology[2].rotation);
    EXPECT_EQ(0, rsp.topo.topology[1].width);
    EXPECT_STREQ("ACM", (const char *)rsp.iden[0].vid);
    EXPECT_STREQ("A1B", (const char *)rsp.iden[0].pid);
    /* the built-in monitor of slot 2 has no serial text: its number is negative */
    EXPECT_STREQ("CRN", (const char *)rsp.iden[2].vid);
    EXPECT_STREQ("-2147483606", (const char *)rsp.iden[2].serial);
    EXPECT_STREQ("01B", (const char *)rsp.iden[2].pid);
    EXPECT_EQ(0, rsp.iden[1].vid[0]);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(0, rsp.iden[i].name[15]);
        EXPECT_EQ(0, rsp.iden[i].serial[15]);
    }

    struct { cCARDSIM_MONITORS::eTOPO_STATE st; UINT8 rate; } empty[] = {
        { cCARDSIM_MONITORS::TOPO_NOT_ACTIVE, 0xFF },
        { cCARDSIM_MONITORS::TOPO_NO_CACHING, 0xFE },
    };
    for (auto &c : empty) {
        m.fill_topo(c.st, &rsp);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(c.rate, rsp.topo.refresh_rate[i]);
            EXPECT_EQ(0, rsp.topo.topology[i].width);
            EXPECT_EQ(0, rsp.iden[i].vid[0]);
        }
    }
}

TEST(Monitors, PrimaryIsTheMonitorAtTheOrigin)
{
    cCARDSIM_MONITORS m;
    std::string err;
    ASSERT_EQ(0, m.add_spec("0:1920x1080-1920+0@60", &err));
    ASSERT_EQ(0, m.add_spec("1:1920x1080+0+0@60", &err));
    EXPECT_EQ(1, m.primary());
}

TEST(Monitors, NotActiveForASetNumberOfReads)
{
    cCARDSIM_MONITORS m;
    sKAVO_ZYLO_HCC_APDU_IMG_CACHE_DISP_TOPO rsp;
    m.finish();
    m.set_caching(true, 2);
    for (UINT8 want : { 0xFF, 0xFF, 60, 60 }) {
        m.reply_topo(&rsp);
        EXPECT_EQ(want, rsp.topo.refresh_rate[0]);
    }
    m.set_caching(false, 0);
    m.reply_topo(&rsp);
    EXPECT_EQ(0xFE, rsp.topo.refresh_rate[0]);
}
