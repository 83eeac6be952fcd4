/*
 * The simulator's socket protocol. A connection starts with a 4-byte magic:
 * "DEV1" for a device channel (then the node and the opener's pid; the
 * server answers an errno, 0 for success) or "CTL1" for one control command
 * (argc, then each word as length + bytes; the server answers the exit
 * status and the output text).
 * Device requests: {op, pid, code, len} + len bytes; reply {rv, err, len} +
 * len bytes (the record after the reply).
 */
#ifndef CARDSIM_PROTO_H
#define CARDSIM_PROTO_H

#include <errno.h>
#include <stdint.h>
#include <sys/socket.h>
#include <string.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#define CARDSIM_DEFAULT_SOCKET "/tmp/zylo_cardsim.sock"
#define CARDSIM_MAGIC_DEV "DEV1"
#define CARDSIM_MAGIC_CTL "CTL1"

enum { CARDSIM_OP_IOCTL = 1, CARDSIM_OP_CLOSE = 2 };

struct sCARDSIM_HELLO {
    char magic[4];
    int32_t node;
    int32_t pid;
};

struct sCARDSIM_REQ {
    uint32_t op;
    int32_t pid;
    uint32_t code;
    uint32_t len;
};

struct sCARDSIM_RSP {
    int32_t rv;
    int32_t err;
    uint32_t len;
};

/* Fills `addr` for the socket at `path`; -1 when the path does not fit. */
static inline int cardsim_unix_addr(const char *path, struct sockaddr_un *addr)
{
    memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    if (strlen(path) >= sizeof(addr->sun_path))
        return -1;
    memcpy(addr->sun_path, path, strlen(path) + 1);
    return 0;
}

static inline int cardsim_write_all(int fd, const void *buf, size_t len)
{
    const char *p = (const char *)buf;
    while (len) {
        ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

static inline int cardsim_read_all(int fd, void *buf, size_t len)
{
    char *p = (char *)buf;
    while (len) {
        ssize_t n = recv(fd, p, len, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

#endif
