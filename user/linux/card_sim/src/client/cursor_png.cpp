#include "cursor_png.h"

#include <stdio.h>
#include <string.h>
#include <errno.h>
#include <png.h>

namespace {

enum { BMP_ALPHA = 0, BMP_COLOR = 1 };

int bit_at(const uint8_t *row, int x)
{
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void decode_alpha(const uint8_t *bmp, sCARDSIM_CURSOR_IMG *out)
{
    size_t n = (size_t)out->width * out->height;

    for (size_t i = 0; i < n; i++) {
        const uint8_t *s = bmp + 4 * i; /* B, G, R, A */
        uint8_t *d = &out->rgba[4 * i];
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
    }
}

void decode_mono_opaque(const uint8_t *bmp, size_t xlw, sCARDSIM_CURSOR_IMG *out)
{
    for (int y = 0; y < out->height; y++) {
        for (int x = 0; x < out->width; x++) {
            uint8_t *d = &out->rgba[4 * ((size_t)y * out->width + x)];
            d[0] = d[1] = d[2] = bit_at(bmp + xlw * y, x) ? 255 : 0;
            d[3] = 255;
        }
    }
}

/* Top-down AND rows (alw bytes) then XOR rows (xlw bytes). */
void decode_color(const uint8_t *bmp, int xor_depth, size_t alw, size_t xlw,
                  sCARDSIM_CURSOR_IMG *out)
{
    const uint8_t *and_blk = bmp;
    const uint8_t *xor_blk = bmp + alw * out->height;

    for (int y = 0; y < out->height; y++) {
        const uint8_t *ar = and_blk + alw * y;
        const uint8_t *xr = xor_blk + xlw * y;
        for (int x = 0; x < out->width; x++) {
            uint8_t *d = &out->rgba[4 * ((size_t)y * out->width + x)];
            int a = bit_at(ar, x);
            if (xor_depth == 1) {
                int v = bit_at(xr, x);
                if (a && !v) { /* transparent */
                    d[0] = d[1] = d[2] = d[3] = 0;
                } else if (a && v) { /* inverted screen: opaque black */
                    d[0] = d[1] = d[2] = 0;
                    d[3] = 255;
                } else {
                    d[0] = d[1] = d[2] = v ? 255 : 0;
                    d[3] = 255;
                }
            } else {
                const uint8_t *s = xr + 4 * x;
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = a ? 0 : 255;
                if (a)
                    d[0] = d[1] = d[2] = 0;
            }
        }
    }
}

} /* namespace */

int cardsim_cursor_decode(uint8_t bmp_type, int width, int height, int and_depth, int xor_depth,
                          const uint8_t *bmp, size_t len, sCARDSIM_CURSOR_IMG *out,
                          std::string *err)
{
    size_t need, alw = 0, xlw = 0;

    if (width < 1 || height < 1 || width > 255 || height > 255) {
        *err = "cursor size " + std::to_string(width) + "x" + std::to_string(height) +
               " not supported";
        return -1;
    }
    if (bmp_type == BMP_ALPHA && and_depth == 1 && xor_depth == 1) {
        /* a monochrome shape without transparent pixels arrives relabelled
         * ALPHA but still holds its 1-bit XOR rows, top-down */
        xlw = (size_t)((width + 31) / 32) * 4;
        need = xlw * height;
    } else if (bmp_type == BMP_ALPHA) {
        need = (size_t)width * height * 4;
    } else if (bmp_type == BMP_COLOR && and_depth == 1 && (xor_depth == 1 || xor_depth == 32)) {
        alw = (size_t)((width + 31) / 32) * 4;
        xlw = xor_depth == 1 ? alw : (size_t)width * 4;
        need = (alw + xlw) * height;
    } else {
        *err = "cursor bitmap type " + std::to_string(bmp_type) + " with depths " +
               std::to_string(and_depth) + "/" + std::to_string(xor_depth) + " not supported";
        return -1;
    }
    if (!bmp || len < need) {
        *err = "cursor bitmap holds " + std::to_string(bmp ? len : 0) + " bytes, needs " +
               std::to_string(need);
        return -1;
    }
    out->width = width;
    out->height = height;
    out->rgba.assign((size_t)width * height * 4, 0);
    if (bmp_type == BMP_ALPHA && xor_depth == 1)
        decode_mono_opaque(bmp, xlw, out);
    else if (bmp_type == BMP_ALPHA)
        decode_alpha(bmp, out);
    else
        decode_color(bmp, xor_depth, alw, xlw, out);
    return 0;
}

int cardsim_cursor_write_png(const sCARDSIM_CURSOR_IMG &img, const char *path, std::string *err)
{
    png_structp png;
    png_infop info;
    FILE *f;

    if (img.width < 1 || img.height < 1 ||
        img.rgba.size() != (size_t)img.width * img.height * 4) {
        *err = "no cursor image to write";
        return -1;
    }
    f = fopen(path, "wb");
    if (!f) {
        *err = std::string("cannot create ") + path + ": " + strerror(errno);
        return -1;
    }
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    info = png ? png_create_info_struct(png) : NULL;
    if (!png || !info) {
        png_destroy_write_struct(&png, NULL);
        fclose(f);
        *err = "cannot set up the PNG writer";
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        *err = std::string("writing ") + path + " failed";
        return -1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)img.width, (png_uint_32)img.height, 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.height; y++)
        png_write_row(png, (png_const_bytep)&img.rgba[(size_t)y * img.width * 4]);
    png_write_end(png, NULL);
    png_destroy_write_struct(&png, &info);
    if (fclose(f) != 0) {
        *err = std::string("writing ") + path + " failed";
        return -1;
    }
    return 0;
}

int cCARDSIM_CURSOR::shape_bmp(const uint8_t *req, size_t len, std::string *err)
{
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_SHAPE_BMP hdr;
    sCARDSIM_CURSOR_IMG img;
    size_t n;

    if (!req || len < KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN) {
        *err = "cursor shape request shorter than its 20-byte header";
        return -1;
    }
    memcpy(&hdr, req, KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN);
    n = len - KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN;
    if (hdr.apdu_len >= KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN &&
        hdr.apdu_len - KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN < n)
        n = hdr.apdu_len - KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN;
    if (cardsim_cursor_decode(hdr.bmp_type, hdr.width, hdr.height, hdr.and_depth,
                              hdr.xor_depth, req + KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN, n, &img,
                              err) != 0)
        return -1;
    if (hdr.cache & KAVO_ZYLO_CUR_SHAPE_BMP_CACHE_STORE)
        m_slot[hdr.cache & 0x7F] = img;
    m_current = img;
    m_showing = true;
    return 0;
}

int cCARDSIM_CURSOR::shape_select(unsigned slot, std::string *err)
{
    if (slot >= MAX_SLOTS || m_slot[slot].width == 0) {
        *err = "cursor shape slot " + std::to_string(slot) + " holds no shape";
        return -1;
    }
    m_current = m_slot[slot];
    m_showing = true;
    return 0;
}

void cCARDSIM_CURSOR::reset()
{
    for (auto &s : m_slot)
        s = sCARDSIM_CURSOR_IMG();
    m_current = sCARDSIM_CURSOR_IMG();
    m_showing = false;
}

int cCARDSIM_CURSOR::write_png(const char *path, std::string *err) const
{
    if (!m_showing) {
        *err = "the client shows no cursor";
        return -1;
    }
    return cardsim_cursor_write_png(m_current, path, err);
}
