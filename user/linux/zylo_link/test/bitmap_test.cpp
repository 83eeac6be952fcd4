/* Cursor bitmaps: conversion, the send path and the host-side slot cache. */
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "cardsim_client.h"
#include "link_fixture.h"
#include "kavo_log.h"
#include "kavo_zylo_link.h"

using cardsim::le32;

namespace {

TEST(AndMask, OnlyBitsInsideTheWidthCount)
{
    const struct {
        UINT8 last;
        UINT32 width;
        INT32 want;
    } cases[] = {
        {0x0F, 28, 1}, {0x0F, 29, 0}, {0x01, 31, 1}, {0x01, 32, 0}, {0x80, 25, 0}, {0x00, 32, 1},
    };
    for (const auto &c : cases) {
        UINT8 row[8] = {0, 0, 0, c.last, 0xFF, 0xFF, 0xFF, 0xFF}; /* row 2 past width */
        SCOPED_TRACE(c.width);
        EXPECT_EQ(c.want, zero_transparent_bits_in_and_mask(row, 4, c.width, 1));
    }
}

struct BmpFixture : LinkFixture {
    INT32 alpha(UINT8 tag)
    {
        std::vector<UINT8> b(16 * 16 * 4, tag);
        return link.lcur_shape_bmp_send(0, 0, 16, 16, 0, 0, b.data(), (UINT32)b.size(),
                                        KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA);
    }
};

TEST_F(BmpFixture, RepeatedShapeIsSelectedBySlotUntilTheSessionIsRebuilt)
{
    session("up");
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, alpha(7));
    ASSERT_EQ(0, alpha(7));
    auto bmps = sends("0x7906", since);
    auto sel = sends("0x7907", since);
    ASSERT_EQ(1u, bmps.size());
    ASSERT_EQ(1u, sel.size());
    EXPECT_EQ(bmps[0].req[9] & 0x7F, sel[0].req[8]);

    session("down");
    session("up");
    since = sim.last_seq();
    ASSERT_EQ(0, alpha(7));
    EXPECT_EQ(1u, sends("0x7906", since).size());
}

TEST_F(BmpFixture, SlotsRotateWithThreeCaches)
{
    ASSERT_EQ(0, sim.ctl({"set", "ctxt.cur_shape_caches", "3"}));
    session("up");
    uint64_t since = sim.last_seq();
    for (UINT8 t = 1; t <= 4; t++)
        ASSERT_EQ(0, alpha(t));
    auto bmps = sends("0x7906", since);
    ASSERT_EQ(4u, bmps.size());
    const UINT8 want[] = {0x81, 0x82, 0x80, 0x81};
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ(want[i], bmps[i].req[9]) << i;
}

TEST_F(BmpFixture, ClientWithoutCachesGetsCacheZeroAndNothingIsKept)
{
    ASSERT_EQ(0, sim.ctl({"set", "ctxt.cur_shape_caches_supported", "0"}));
    session("up");
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, alpha(3));
    ASSERT_EQ(0, alpha(3));
    auto bmps = sends("0x7906", since);
    ASSERT_EQ(2u, bmps.size());
    EXPECT_EQ(0, bmps[0].req[9]);
    EXPECT_EQ(0, link.bmp_cache().max_num_bmps);
}

TEST_F(BmpFixture, MonochromeWithoutTransparencyGoesOutAsAlphaXorRows)
{
    session("up");
    /* width 32: alw = xlw = 4; passed height 64 = 32 XOR rows + 32 AND rows */
    std::vector<UINT8> b(8 * 32, 0);
    for (UINT32 r = 0; r < 32; r++)
        b[r * 4] = (UINT8)r;
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, link.lcur_shape_bmp_send(0, 0, 32, 64, 1, 1, b.data(), (UINT32)b.size(),
                                          KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COLOR));
    auto bmps = sends("0x7906", since);
    ASSERT_EQ(1u, bmps.size());
    const auto &q = bmps[0].req;
    EXPECT_EQ(0xA0003u, le32(q, 0));
    EXPECT_EQ(0, q[8]);  /* ALPHA */
    EXPECT_EQ(32, q[13]);
    EXPECT_EQ(1, q[14]);
    EXPECT_EQ(1, q[15]);
    EXPECT_EQ(20u + 256u, le32(q, 16));
    EXPECT_EQ(31, q[20]);      /* top row first */
    EXPECT_EQ(0, q[20 + 31 * 4]);
}

TEST_F(BmpFixture, ShortColorBitmapIsRefusedWithBothLines)
{
    session("up");
    char *buf = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&buf, &len);
    kavo_log_set_stream(mem);
    int saved = m_log_level;
    m_log_level = KAVO_LOG_DEBUG;
    std::vector<UINT8> b(8 * 32 - 1, 0);
    uint64_t since = sim.last_seq();
    EXPECT_EQ(KAVO_ERR_FAIL, link.lcur_shape_bmp_send(0, 0, 32, 64, 1, 1, b.data(),
                                                      (UINT32)b.size(),
                                                      KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COLOR));
    m_log_level = saved;
    kavo_log_set_stream(stdout);
    fclose(mem);
    std::string out(buf, len);
    free(buf);
    EXPECT_NE(std::string::npos,
              out.find("dest buffer too small, aborting copy: alw 4 xlw 4 h 32 bl 255"));
    EXPECT_NE(std::string::npos, out.find("HDC_IOCTL_KMP_CUR_SHAPE_BMP failed (ret=-500)"));
    EXPECT_TRUE(sends("0x7906", since).empty());
}

TEST_F(BmpFixture, OversizedKeptCopyIsSentWithoutASlot)
{
    ASSERT_EQ(0, sim.ctl({"set", "ctxt.cur_shape_cache_size", "1024"}));
    session("up");
    /* COLOR 32-bit, width 16, height 16: alw 4, xlw 64 -> 1088 bytes */
    std::vector<UINT8> b(68 * 16, 0);
    uint64_t since = sim.last_seq();
    ASSERT_EQ(0, link.lcur_shape_bmp_send(0, 0, 16, 16, 1, 32, b.data(), (UINT32)b.size(),
                                          KAVO_ZYLO_LINK_KMP_CUR_BITMAP_COLOR));
    auto bmps = sends("0x7906", since);
    ASSERT_EQ(1u, bmps.size());
    EXPECT_EQ(0, bmps[0].req[9]);
    for (int i = 0; i < link.bmp_cache().max_num_bmps; i++)
        EXPECT_EQ(0u, link.bmp_cache().bmp[i].bmp_len);
}

TEST_F(BmpFixture, SizeValidNeedsColorMaskBytes)
{
    const struct {
        const char *size;
        INT color;
        INT32 want;
    } cases[] = {{"4096", 0, 0}, {"4095", 0, KAVO_ERR_NOT_SUPPORTED}, {"4224", 1, 0},
                 {"4223", 1, KAVO_ERR_NOT_SUPPORTED}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        ASSERT_EQ(0, sim.ctl({"set", "ctxt.cur_shape_cache_size", c.size}));
        session("down");
        session("up");
        EXPECT_EQ(c.want, link.lcur_shape_size_valid(32, 32, c.color));
    }
}

} // namespace
