/* Status codes returned by every link-layer operation: 0 or one of these. */
#ifndef KAVO_STATUS_H
#define KAVO_STATUS_H

#include "kavo_types.h"

enum : INT32 {
    KAVO_OK = 0,
    KAVO_ERR_FAIL = -500,          /* driver call failed; topology not sent; short bitmap */
    KAVO_ERR_INVALID_ARG = -501,   /* missing or out-of-range argument */
    KAVO_ERR_NOT_INIT = -503,      /* channel's node not open; invalid refresh rate */
    KAVO_ERR_NO_KBD_REPEAT = -504, /* the client reported no keyboard repeat values (agent) */
    KAVO_ERR_NO_CACHING = -506,    /* the card keeps no cached topology */
    KAVO_ERR_NO_MEM = -507,        /* no memory for a request record */
    KAVO_ERR_OPEN = -510,          /* the device node failed to open */
    KAVO_ERR_NOT_SUPPORTED = -511, /* card or client does not offer the operation */
    KAVO_ERR_NOT_ACTIVE = -519,    /* the cached topology is not active */
};

#endif /* KAVO_STATUS_H */
