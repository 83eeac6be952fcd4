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

#include "kavo_zylo_apdu.h"

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

/*
 * The cursor the client shows: shapes arrive by 0x7906 (stored in the slot
 * the cache byte names when its bit 7 is set) and are selected by slot.
 */
class cCARDSIM_CURSOR
{
public:
    enum { MAX_SLOTS = 128 };

    /* req/len: the whole 0x7906 request, header included. */
    int shape_bmp(const uint8_t *req, size_t len, std::string *err);
    /* Shows the shape kept in a slot; -1 with err when the slot is empty. */
    int shape_select(unsigned slot, std::string *err);
    /* Forgets every kept shape (a new session). */
    void reset();

    bool showing() const { return m_showing; }
    const sCARDSIM_CURSOR_IMG &current() const { return m_current; }
    int write_png(const char *path, std::string *err) const;

private:
    sCARDSIM_CURSOR_IMG m_slot[MAX_SLOTS];
    sCARDSIM_CURSOR_IMG m_current;
    bool m_showing = false;
};

#endif
