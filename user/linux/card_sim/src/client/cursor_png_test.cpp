#include "cursor_png.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

/* Reads a PNG back as RGBA; returns false on any error. */
bool read_png(const std::string &path, int *w, int *h, std::vector<uint8_t> *rgba)
{
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return false;
    img.format = PNG_FORMAT_RGBA;
    rgba->assign(PNG_IMAGE_SIZE(img), 0);
    *w = (int)img.width;
    *h = (int)img.height;
    return png_image_finish_read(&img, NULL, rgba->data(), 0, NULL) != 0;
}

const uint8_t *px(const sCARDSIM_CURSOR_IMG &img, int x, int y)
{
    return &img.rgba[4 * ((size_t)y * img.width + x)];
}

}  // namespace

TEST(CursorPng, AlphaPngRoundTrip)
{
    const int w = 3, h = 2;
    std::vector<uint8_t> bmp(w * h * 4, 0);
    /* little-endian ARGB: bytes B, G, R, A */
    uint8_t p0[4] = { 0x10, 0x20, 0x30, 0xFF }, p5[4] = { 0x00, 0x00, 0x80, 0x80 };
    memcpy(&bmp[0], p0, 4);
    memcpy(&bmp[5 * 4], p5, 4);
    sCARDSIM_CURSOR_IMG img;
    std::string err;
    ASSERT_EQ(0, cardsim_cursor_decode(0, w, h, 0, 0, bmp.data(), bmp.size(), &img, &err)) << err;

    char dir[] = "/tmp/cursor_png_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string path = std::string(dir) + "/c.png";
    ASSERT_EQ(0, cardsim_cursor_write_png(img, path.c_str(), &err)) << err;

    int rw = 0, rh = 0;
    std::vector<uint8_t> back;
    ASSERT_TRUE(read_png(path, &rw, &rh, &back));
    EXPECT_EQ(w, rw);
    EXPECT_EQ(h, rh);
    EXPECT_EQ(img.rgba, back);
    EXPECT_EQ(0x30, back[0]);
    EXPECT_EQ(0x10, back[2]);
    EXPECT_EQ(0xFF, back[3]);
    EXPECT_EQ(0x80, back[5 * 4 + 0]);
    EXPECT_EQ(0x80, back[5 * 4 + 3]);
    EXPECT_EQ(0, back[4 + 3]);

    EXPECT_NE(0, cardsim_cursor_write_png(img, (std::string(dir) + "/no/such.png").c_str(), &err));
    unlink(path.c_str());
    rmdir(dir);
}

TEST(CursorPng, ColorThirtyTwoBit)
{
    /* 2x2, AND rows of 4 bytes top-down, then XOR rows of 8 bytes */
    std::vector<uint8_t> bmp(2 * 4 + 2 * 8, 0);
    bmp[0] = 0x40;                 /* row 0: pixel 1 transparent */
    bmp[8 + 0] = 0xFF;             /* row 0 pixel 0: blue */
    bmp[8 + 8 + 4 + 1] = 0xFF;     /* row 1 pixel 1: green */
    sCARDSIM_CURSOR_IMG img;
    std::string err;
    ASSERT_EQ(0, cardsim_cursor_decode(1, 2, 2, 1, 32, bmp.data(), bmp.size(), &img, &err)) << err;
    EXPECT_EQ(0xFF, px(img, 0, 0)[2]);
    EXPECT_EQ(0xFF, px(img, 0, 0)[3]);
    EXPECT_EQ(0, px(img, 1, 0)[3]);
    EXPECT_EQ(0xFF, px(img, 1, 1)[1]);
    EXPECT_EQ(0xFF, px(img, 1, 1)[3]);
}

TEST(CursorPng, ColorMonochrome)
{
    /* 4x1: AND 0,0,1,1 and XOR 0,1,0,1 = black, white, transparent, inverted */
    std::vector<uint8_t> bmp(8, 0);
    bmp[0] = 0x30;
    bmp[4] = 0x50;
    sCARDSIM_CURSOR_IMG img;
    std::string err;
    ASSERT_EQ(0, cardsim_cursor_decode(1, 4, 1, 1, 1, bmp.data(), bmp.size(), &img, &err)) << err;
    const uint8_t want[4][4] = { { 0, 0, 0, 255 }, { 255, 255, 255, 255 }, { 0, 0, 0, 0 },
                                 { 0, 0, 0, 255 } };
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(0, memcmp(want[x], px(img, x, 0), 4)) << x;

    /* a monochrome shape without transparency arrives labelled ALPHA, 1-bit rows */
    bmp.assign(4, 0);
    bmp[0] = 0x80;
    ASSERT_EQ(0, cardsim_cursor_decode(0, 2, 1, 1, 1, bmp.data(), bmp.size(), &img, &err)) << err;
    EXPECT_EQ(255, px(img, 0, 0)[0]);
    EXPECT_EQ(0, px(img, 1, 0)[0]);
    EXPECT_EQ(255, px(img, 1, 0)[3]);
}

TEST(CursorPng, ShortOrUnsupportedDataIsRefused)
{
    std::vector<uint8_t> bmp(64 * 64 * 4, 0);
    struct { int type, w, h, ad, xd; size_t len; const char *err; } cases[] = {
        { 0, 32, 32, 0, 0, 32 * 32 * 4 - 1, "needs 4096" },
        { 1, 32, 32, 1, 32, (4 + 128) * 32 - 1, "needs 4224" },
        { 1, 33, 2, 1, 1, 2 * 16 - 1, "needs 32" },
        { 2, 8, 8, 0, 0, 256, "not supported" },
        { 1, 8, 8, 1, 8, 256, "not supported" },
        { 1, 8, 8, 0, 1, 256, "not supported" },
        { 0, 0, 8, 0, 0, 256, "not supported" },
    };
    for (auto &c : cases) {
        sCARDSIM_CURSOR_IMG img;
        std::string err;
        EXPECT_NE(0, cardsim_cursor_decode((uint8_t)c.type, c.w, c.h, c.ad, c.xd, bmp.data(),
                                           c.len, &img, &err));
        EXPECT_NE(std::string::npos, err.find(c.err)) << err;
    }
    sCARDSIM_CURSOR_IMG none;
    std::string err;
    EXPECT_NE(0, cardsim_cursor_write_png(none, "/tmp/unused.png", &err));
}

TEST(CursorPng, ClientKeepsSlotsAndShowsTheSelectedOne)
{
    cCARDSIM_CURSOR cur;
    std::string err;
    auto request = [](uint8_t cache, uint8_t blue) {
        std::vector<uint8_t> req(KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN + 4, 0);
        sKAVO_ZYLO_HDC_APDU_KMP_CUR_SHAPE_BMP hdr{};
        hdr.apdu_type = KAVO_ZYLO_HDC_APDU_KMP_TYPE_CUR_SHAPE_BMP;
        hdr.cache = cache;
        hdr.width = 1;
        hdr.height = 1;
        hdr.apdu_len = (UINT32)req.size();
        memcpy(req.data(), &hdr, KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN);
        req[20] = blue;
        req[23] = 0xFF;
        return req;
    };

    EXPECT_FALSE(cur.showing());
    EXPECT_NE(0, cur.write_png("/tmp/unused.png", &err));
    EXPECT_NE(std::string::npos, err.find("no cursor"));

    auto a = request(0x80 | 2, 0x11), b = request(0, 0x22);
    ASSERT_EQ(0, cur.shape_bmp(a.data(), a.size(), &err)) << err;
    ASSERT_EQ(0, cur.shape_bmp(b.data(), b.size(), &err)) << err;
    EXPECT_EQ(0x22, cur.current().rgba[2]);
    EXPECT_NE(0, cur.shape_select(0, &err)); /* b was not kept */
    ASSERT_EQ(0, cur.shape_select(2, &err)) << err;
    EXPECT_EQ(0x11, cur.current().rgba[2]);
    EXPECT_NE(0, cur.shape_select(200, &err));

    EXPECT_NE(0, cur.shape_bmp(a.data(), a.size() - 1, &err)); /* one byte short */
    EXPECT_NE(0, cur.shape_bmp(a.data(), 19, &err));
    cur.reset();
    EXPECT_NE(0, cur.shape_select(2, &err));
}
