/*
 * libzylo_cardsim_dev.so: stands in for the card's kernel driver inside a
 * program. open() of exactly "/dev/zylo_host0" or "/dev/zylo_host1" becomes a
 * channel to the simulator named by ZYLO_CARDSIM_SOCKET (read at each open);
 * ioctl() and close() on such a descriptor become requests. Every other path
 * and descriptor passes through untouched. Plain C style: this library is
 * injected into arbitrary programs and uses no C++ runtime.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim_codes.h"
#include "sim_proto.h"

#define CARDSIM_MAX_FD 4096

/* 0: not ours; 1 + node for a channel to the simulator. */
static unsigned char s_fd_node[CARDSIM_MAX_FD];

typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);
typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*close_fn)(int);

static void *next_sym(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

static int card_node(const char *path)
{
    if (!path)
        return -1;
    if (strcmp(path, KAVO_ZYLO_HCC_DEV_PATH) == 0)
        return CARDSIM_NODE_HCC;
    if (strcmp(path, KAVO_ZYLO_HDC_DEV_PATH) == 0)
        return CARDSIM_NODE_HDC;
    return -1;
}

static int is_ours(int fd)
{
    return fd >= 0 && fd < CARDSIM_MAX_FD && s_fd_node[fd];
}

static int sim_open(int node, int flags)
{
    const char *path = getenv("ZYLO_CARDSIM_SOCKET");
    if (!path || !*path)
        path = CARDSIM_DEFAULT_SOCKET;
    struct sockaddr_un addr;
    if (cardsim_unix_addr(path, &addr)) {
        errno = ENOENT;
        return -1;
    }

    int fd = socket(AF_UNIX, SOCK_STREAM | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0)
        return -1;
    close_fn real_close = (close_fn)next_sym("close");
    if (fd >= CARDSIM_MAX_FD || connect(fd, (struct sockaddr *)&addr, sizeof(addr)) < 0) {
        real_close(fd);
        errno = ENOENT; /* as with the driver not loaded */
        return -1;
    }
    struct sCARDSIM_HELLO hello;
    memcpy(hello.magic, CARDSIM_MAGIC_DEV, 4);
    hello.node = node;
    hello.pid = getpid();
    int32_t status = EIO;
    if (cardsim_write_all(fd, &hello, sizeof(hello)) || cardsim_read_all(fd, &status, sizeof(status))) {
        real_close(fd);
        errno = ENOENT;
        return -1;
    }
    if (status) {
        real_close(fd);
        errno = status;
        return -1;
    }
    s_fd_node[fd] = (unsigned char)(1 + node);
    return fd;
}

/* The record's length as the driver takes it, or -1 with errno. */
static long record_len(const sCARDSIM_CODE *c, const void *arg)
{
    if (!c->variable)
        return c->size;
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    uint32_t apdu_len;
    memcpy(&apdu_len, (const char *)arg + 16, sizeof(apdu_len));
    if (apdu_len < KAVO_ZYLO_CUR_SHAPE_BMP_HDR_LEN || apdu_len > CARDSIM_BMP_MAX_LEN) {
        errno = EINVAL;
        return -1;
    }
    return apdu_len;
}

static int sim_ioctl(int fd, unsigned long request, void *arg)
{
    const sCARDSIM_CODE *c = cardsim_code_find((unsigned)request);
    if (!c || c->node != s_fd_node[fd] - 1) {
        errno = ENOTTY;
        return -1;
    }
    long len = record_len(c, arg);
    if (len < 0)
        return -1;
    if (len > 0 && !arg) {
        errno = EFAULT;
        return -1;
    }
    struct sCARDSIM_REQ req = {CARDSIM_OP_IOCTL, (int32_t)getpid(), (uint32_t)request, (uint32_t)len};
    struct sCARDSIM_RSP rsp;
    if (cardsim_write_all(fd, &req, sizeof(req)) ||
        (len && cardsim_write_all(fd, arg, (size_t)len)) ||
        cardsim_read_all(fd, &rsp, sizeof(rsp)) || rsp.len != (uint32_t)len ||
        (len && cardsim_read_all(fd, arg, (size_t)len))) {
        errno = EIO;
        return -1;
    }
    if (rsp.rv < 0) {
        errno = rsp.err ? rsp.err : EIO;
        return -1;
    }
    return rsp.rv;
}

static void sim_close(int fd)
{
    struct sCARDSIM_REQ req = {CARDSIM_OP_CLOSE, (int32_t)getpid(), 0, 0};
    struct sCARDSIM_RSP rsp;
    if (cardsim_write_all(fd, &req, sizeof(req)) == 0)
        cardsim_read_all(fd, &rsp, sizeof(rsp));
    s_fd_node[fd] = 0;
}

static int open_common(const char *path, int flags, mode_t mode, int dirfd, int use_at,
                       const char *sym)
{
    int node = card_node(path);
    if (node >= 0)
        return sim_open(node, flags);
    if (use_at)
        return ((openat_fn)next_sym(sym))(dirfd, path, flags, mode);
    return ((open_fn)next_sym(sym))(path, flags, mode);
}

#define MODE_ARG(flags, mode)                                                                      \
    do {                                                                                           \
        if ((flags) & (O_CREAT | O_TMPFILE)) {                                                     \
            va_list ap;                                                                            \
            va_start(ap, flags);                                                                   \
            mode = (mode_t)va_arg(ap, int);                                                        \
            va_end(ap);                                                                            \
        }                                                                                          \
    } while (0)

extern "C" {

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return open_common(path, flags, mode, 0, 0, "open");
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return open_common(path, flags, mode, 0, 0, "open64");
}

int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return open_common(path, flags, mode, dirfd, 1, "openat");
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return open_common(path, flags, mode, dirfd, 1, "openat64");
}

int __open_2(const char *path, int flags)
{
    return open_common(path, flags, 0, 0, 0, "open");
}

int __open64_2(const char *path, int flags)
{
    return open_common(path, flags, 0, 0, 0, "open64");
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (is_ours(fd))
        return sim_ioctl(fd, request, arg);
    return ((ioctl_fn)next_sym("ioctl"))(fd, request, arg);
}

int close(int fd)
{
    if (is_ours(fd))
        sim_close(fd);
    return ((close_fn)next_sym("close"))(fd);
}

} /* extern "C" */
