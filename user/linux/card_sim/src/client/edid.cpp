#include "edid.h"

#include <stdio.h>
#include <string.h>
#include <errno.h>

namespace {

struct builtin_monitor {
    const char *mfg;
    uint16_t product;
    uint32_t serial;
    const char *name;
    const char *serial_text; /* NULL: no serial descriptor */
};

const builtin_monitor g_builtin[CARDSIM_BUILTIN_MONITORS] = {
    { "ACM", 0x0A1B, 1001, "Acme 24", "ACM24A001" },
    { "BLU", 0x2401, 20230417, "Bluefin Pro27" /* fills all 13 bytes */, "BF27X2304" },
    { "CRN", 0x001B, 0x8000002Au, "Crane View", NULL },
    { "DLT", 0x7C10, 777, "Delta Wide 34", "DW34-0777" },
};

void put_descriptor_text(uint8_t *d, uint8_t tag, const char *text)
{
    size_t i, n = strlen(text);

    memset(d, 0, 18);
    d[3] = tag;
    if (n > 13)
        n = 13;
    memcpy(d + 5, text, n);
    if (n < 13) {
        d[5 + n] = 0x0A;
        for (i = n + 1; i < 13; i++)
            d[5 + i] = 0x20;
    }
}

void put_range_descriptor(uint8_t *d, int rate)
{
    memset(d, 0, 18);
    d[3] = 0xFD;
    d[5] = (uint8_t)(rate > 1 ? rate - 1 : 1);
    d[6] = (uint8_t)(rate < 254 ? rate + 1 : 255);
    d[7] = 30;
    d[8] = 140;
    d[9] = 60;
    d[10] = 0x00;
    d[11] = 0x0A;
    memset(d + 12, 0x20, 6);
}

void put_timing(uint8_t *d, int w, int h, int rate)
{
    int hblank = 280, vblank = 45;
    long long clk = (long long)(w + hblank) * (h + vblank) * rate / 10000;

    if (clk > 0xFFFF)
        clk = 0xFFFF;
    if (clk < 1)
        clk = 1;
    memset(d, 0, 18);
    d[0] = (uint8_t)(clk & 0xFF);
    d[1] = (uint8_t)(clk >> 8);
    d[2] = (uint8_t)(w & 0xFF);
    d[3] = (uint8_t)(hblank & 0xFF);
    d[4] = (uint8_t)(((w >> 8) & 0x0F) << 4 | ((hblank >> 8) & 0x0F));
    d[5] = (uint8_t)(h & 0xFF);
    d[6] = (uint8_t)(vblank & 0xFF);
    d[7] = (uint8_t)(((h >> 8) & 0x0F) << 4 | ((vblank >> 8) & 0x0F));
    d[8] = 88;
    d[9] = 44;
    d[10] = (4 << 4) | 5;
    d[11] = 0;
    d[12] = 0x09; /* 521 mm x 293 mm */
    d[13] = 0x25;
    d[14] = 0x21;
    d[17] = 0x1E; /* digital separate sync, both polarities positive */
}

void finish(uint8_t *b)
{
    unsigned sum = 0;

    for (int i = 0; i < 127; i++)
        sum += b[i];
    b[127] = (uint8_t)(256 - (sum & 0xFF));
}

/* A descriptor text: the 13 bytes after the fifth byte, cut at the first 0x0A. */
void descriptor_text(const uint8_t *d, char *dst, size_t dst_size)
{
    size_t n = 0;

    while (n < 13 && d[5 + n] != 0x0A)
        n++;
    if (dst_size == 0)
        return;
    if (n > dst_size - 1)
        n = dst_size - 1;
    memcpy(dst, d + 5, n);
    dst[n] = '\0';
}

const uint8_t *find_descriptor(const sCARDSIM_EDID *e, uint8_t tag)
{
    for (int off = 54; off <= 108; off += 18) {
        const uint8_t *d = e->b + off;
        if (d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == tag)
            return d;
    }
    return NULL;
}

} /* namespace */

int cardsim_edid_builtin(int index, int width, int height, int rate, sCARDSIM_EDID *out)
{
    static const uint8_t header[8] = { 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0 };
    const builtin_monitor *m;
    uint8_t *b = out->b;
    uint16_t mfg;

    if (index < 0 || index >= CARDSIM_BUILTIN_MONITORS || width < 1 || width > 4095 ||
        height < 1 || height > 4095 || rate < 1 || rate > 255)
        return -1;
    m = &g_builtin[index];
    memset(b, 0, CARDSIM_EDID_LEN);
    memcpy(b, header, 8);
    mfg = (uint16_t)(((m->mfg[0] - '@') & 0x1F) << 10 | ((m->mfg[1] - '@') & 0x1F) << 5 |
                     ((m->mfg[2] - '@') & 0x1F));
    b[8] = (uint8_t)(mfg >> 8);
    b[9] = (uint8_t)(mfg & 0xFF);
    b[10] = (uint8_t)(m->product & 0xFF);
    b[11] = (uint8_t)(m->product >> 8);
    b[12] = (uint8_t)(m->serial & 0xFF);
    b[13] = (uint8_t)(m->serial >> 8);
    b[14] = (uint8_t)(m->serial >> 16);
    b[15] = (uint8_t)(m->serial >> 24);
    b[16] = (uint8_t)(10 + index * 7); /* week */
    b[17] = (uint8_t)(2021 + index - 1990);
    b[18] = 1;
    b[19] = 4;
    b[20] = 0xA5; /* digital, 8 bits per colour, DisplayPort */
    b[21] = 52;
    b[22] = 29;
    b[23] = 120; /* gamma 2.2 */
    b[24] = 0x3A;
    /* sRGB-like chromaticity */
    static const uint8_t chroma[10] = { 0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54 };
    memcpy(b + 25, chroma, 10);
    for (int i = 38; i < 54; i++)
        b[i] = 0x01; /* no standard timings */
    put_timing(b + 54, width, height, rate);
    put_range_descriptor(b + 72, rate);
    put_descriptor_text(b + 90, 0xFC, m->name);
    if (m->serial_text)
        put_descriptor_text(b + 108, 0xFF, m->serial_text);
    else
        put_descriptor_text(b + 108, 0xFE, "SIMULATED");
    b[126] = 0;
    finish(b);
    return 0;
}

bool cardsim_edid_valid(const sCARDSIM_EDID *e)
{
    static const uint8_t header[8] = { 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0 };
    unsigned sum = 0;

    if (memcmp(e->b, header, 8) != 0)
        return false;
    for (int i = 0; i < CARDSIM_EDID_LEN; i++)
        sum += e->b[i];
    return (sum & 0xFF) == 0;
}

int cardsim_edid_load(const char *path, sCARDSIM_EDID *out, std::string *err)
{
    FILE *f = fopen(path, "rb");
    size_t n;

    if (!f) {
        *err = std::string("cannot open EDID file ") + path + ": " + strerror(errno);
        return -1;
    }
    n = fread(out->b, 1, CARDSIM_EDID_LEN, f);
    fclose(f);
    if (n < CARDSIM_EDID_LEN) {
        *err = std::string("EDID file ") + path + " holds " + std::to_string(n) +
               " bytes, needs at least 128";
        return -1;
    }
    if (!cardsim_edid_valid(out)) {
        *err = std::string("EDID file ") + path + " has a bad header or checksum";
        return -1;
    }
    return 0;
}

void cardsim_edid_identity(const sCARDSIM_EDID *e, sCARDSIM_IDENTITY *id)
{
    const uint8_t *b = e->b;
    unsigned mfg = (unsigned)b[8] << 8 | b[9];
    const uint8_t *d;

    memset(id, 0, sizeof(*id));
    id->vid[0] = (char)(0x40 | ((mfg >> 10) & 0x1F));
    id->vid[1] = (char)(0x40 | ((mfg >> 5) & 0x1F));
    id->vid[2] = (char)(0x40 | (mfg & 0x1F));
    snprintf(id->pid, sizeof(id->pid), "%X%02X", b[11], b[10]);
    d = find_descriptor(e, 0xFF);
    if (d) {
        descriptor_text(d, id->serial, sizeof(id->serial));
    } else {
        int32_t s = (int32_t)((uint32_t)b[12] | (uint32_t)b[13] << 8 | (uint32_t)b[14] << 16 |
                              (uint32_t)b[15] << 24);
        snprintf(id->serial, sizeof(id->serial), "%d", s);
    }
    d = find_descriptor(e, 0xFC);
    if (d)
        descriptor_text(d, id->name, sizeof(id->name));
}
