/*
 * EDID base blocks of the simulated client's monitors and the identity
 * texts (vid, pid, serial, name) the card reports for them.
 */
#ifndef CARDSIM_EDID_H
#define CARDSIM_EDID_H

#include <stdint.h>
#include <stddef.h>
#include <string>

#define CARDSIM_EDID_LEN 128
#define CARDSIM_BUILTIN_MONITORS 4

struct sCARDSIM_EDID {
    uint8_t b[CARDSIM_EDID_LEN];
};

struct sCARDSIM_IDENTITY {
    char vid[8];
    char pid[8];
    char serial[16];
    char name[16];
};

/* Builds a base block for a built-in monitor (index 0..3) showing the mode. */
int cardsim_edid_builtin(int index, int width, int height, int rate, sCARDSIM_EDID *out);

/* Loads the first 128 bytes of a file; returns 0 or -1 with err set. */
int cardsim_edid_load(const char *path, sCARDSIM_EDID *out, std::string *err);

/* True when header and checksum are right. */
bool cardsim_edid_valid(const sCARDSIM_EDID *e);

/* Derives the identity texts from a base block. */
void cardsim_edid_identity(const sCARDSIM_EDID *e, sCARDSIM_IDENTITY *id);

#endif
