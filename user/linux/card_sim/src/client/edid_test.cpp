#include "edid.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

void set_text(sCARDSIM_EDID *e, int off, uint8_t tag, const char *text, size_t n)
{
    uint8_t *d = e->b + off;
    memset(d, 0, 18);
    d[3] = tag;
    memset(d + 5, 0x20, 13);
    memcpy(d + 5, text, n);
}

sCARDSIM_EDID base()
{
    sCARDSIM_EDID e;
    EXPECT_EQ(0, cardsim_edid_builtin(0, 1920, 1080, 60, &e));
    return e;
}

}  // namespace

TEST(Edid, BuiltinsAreValidAndDistinct)
{
    std::string seen;
    for (int i = 0; i < CARDSIM_BUILTIN_MONITORS; i++) {
        sCARDSIM_EDID e;
        sCARDSIM_IDENTITY id;
        ASSERT_EQ(0, cardsim_edid_builtin(i, 2560, 1440, 75, &e));
        EXPECT_TRUE(cardsim_edid_valid(&e));
        EXPECT_EQ(4, e.b[19]);
        /* the detailed timing carries the mode */
        EXPECT_EQ(2560, e.b[56] | (e.b[58] >> 4) << 8);
        EXPECT_EQ(1440, e.b[59] | (e.b[61] >> 4) << 8);
        cardsim_edid_identity(&e, &id);
        EXPECT_EQ(3u, strlen(id.vid));
        EXPECT_NE(std::string::npos, std::string("ACMBLUCRNDLT").find(id.vid));
        EXPECT_EQ(std::string::npos, seen.find(std::string(id.vid) + id.pid + id.serial));
        seen += std::string(id.vid) + id.pid + id.serial + "|";
        EXPECT_GT(strlen(id.name), 0u);
    }
    sCARDSIM_EDID e;
    EXPECT_NE(0, cardsim_edid_builtin(4, 1920, 1080, 60, &e));
}

TEST(Edid, PidPrintsHighByteWithoutLeadingZeros)
{
    struct { uint16_t code; const char *pid; } cases[] = {
        { 0x0A1B, "A1B" }, { 0x001B, "01B" }, { 0xFFFF, "FFFF" }, { 0x0000, "000" },
    };
    for (auto &c : cases) {
        sCARDSIM_EDID e = base();
        sCARDSIM_IDENTITY id;
        e.b[10] = c.code & 0xFF;
        e.b[11] = c.code >> 8;
        cardsim_edid_identity(&e, &id);
        EXPECT_STREQ(c.pid, id.pid);
    }
}

TEST(Edid, VidFromFiveBitCodes)
{
    sCARDSIM_EDID e = base();
    sCARDSIM_IDENTITY id;
    /* A, Z, Y */
    e.b[8] = (uint8_t)((1 << 2) | (26 >> 3));
    e.b[9] = (uint8_t)(((26 & 7) << 5) | 25);
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("AZY", id.vid);
}

TEST(Edid, SerialFromDescriptorOrNumber)
{
    sCARDSIM_EDID e = base();
    sCARDSIM_IDENTITY id;

    set_text(&e, 108, 0xFF, "SN123\n", 6);
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("SN123", id.serial);

    set_text(&e, 108, 0xFE, "OTHER\n", 6);
    e.b[12] = 0x39; e.b[13] = 0x30; e.b[14] = 0; e.b[15] = 0; /* 12345 */
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("12345", id.serial);

    e.b[12] = 0xFE; e.b[13] = 0xFF; e.b[14] = 0xFF; e.b[15] = 0xFF;
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("-2", id.serial);

    e.b[12] = 0; e.b[13] = 0; e.b[14] = 0; e.b[15] = 0x80;
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("-2147483648", id.serial);
}

TEST(Edid, ThirteenByteTextsWithoutLineFeedFillTheField)
{
    sCARDSIM_EDID e = base();
    sCARDSIM_IDENTITY id;

    set_text(&e, 90, 0xFC, "ABCDEFGHIJKLM", 13);
    set_text(&e, 108, 0xFF, "0123456789XYZ", 13);
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("ABCDEFGHIJKLM", id.name);
    EXPECT_STREQ("0123456789XYZ", id.serial);
}

TEST(Edid, NoNameDescriptorGivesEmptyName)
{
    sCARDSIM_EDID e = base();
    sCARDSIM_IDENTITY id;
    set_text(&e, 90, 0xFE, "X\n", 2);
    cardsim_edid_identity(&e, &id);
    EXPECT_STREQ("", id.name);
}

TEST(Edid, LoadFile)
{
    char dir[] = "/tmp/edid_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string good = std::string(dir) + "/good.bin", shrt = std::string(dir) + "/short.bin",
                bad = std::string(dir) + "/bad.bin";
    sCARDSIM_EDID e = base(), out;
    std::string err;

    FILE *f = fopen(good.c_str(), "wb");
    fwrite(e.b, 1, 128, f);
    fwrite("extension", 1, 9, f); /* longer files: the first 128 bytes count */
    fclose(f);
    f = fopen(shrt.c_str(), "wb");
    fwrite(e.b, 1, 127, f);
    fclose(f);
    e.b[127] ^= 1;
    f = fopen(bad.c_str(), "wb");
    fwrite(e.b, 1, 128, f);
    fclose(f);

    EXPECT_EQ(0, cardsim_edid_load(good.c_str(), &out, &err));
    EXPECT_EQ(0, memcmp(base().b, out.b, 128));
    EXPECT_NE(0, cardsim_edid_load(shrt.c_str(), &out, &err));
    EXPECT_NE(std::string::npos, err.find("127 bytes"));
    EXPECT_NE(0, cardsim_edid_load(bad.c_str(), &out, &err));
    EXPECT_NE(std::string::npos, err.find("checksum"));
    EXPECT_NE(0, cardsim_edid_load((std::string(dir) + "/none").c_str(), &out, &err));
    EXPECT_NE(std::string::npos, err.find("cannot open"));
    unlink(good.c_str()); unlink(shrt.c_str()); unlink(bad.c_str());
    rmdir(dir);
}
