/* Fixed-width integer names shared by every component of the host software. */
#ifndef KAVO_TYPES_H
#define KAVO_TYPES_H

#include <stdint.h>

typedef int8_t INT8;
typedef uint8_t UINT8;
typedef int16_t INT16;
typedef uint16_t UINT16;
typedef int32_t INT32;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef uint8_t BYTE;

/* A signed int used for flags and booleans: 0 false, non-zero true; setters store 1. */
typedef int INT;

#endif /* KAVO_TYPES_H */
