/*
 * The cursor picture the simulated client shows, decoded from a shape
 * request (0x7906) and written as a PNG.
 */
#ifndef CARDSIM_CURSOR_PNG_H
#define CARDSIM_CURSOR_PNG_H

#include <stdint.h>
#include <stddef.h>
#include <string>
#include <vector>

struct sCARDSIM_CURSOR_IMG {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; /* width * height * 4, top row first */
};

/* bmp/len: the bytes after the 20-byte header. Returns 0 or -1 with err. */
int cardsim_cursor_decode(uint8_t bmp_type, int width, int height, int and_depth, int xor_depth,
                          const uint8_t *bmp, size_t len, sCARDSIM_CURSOR_IMG *out,
                          std::string *err);

int cardsim_cursor_write_png(const sCARDSIM_CURSOR_IMG &img, const char *path, std::string *err);

#endif
