/* One opened device node of the card driver and its synchronous request. */
#ifndef KAVO_DEV_H
#define KAVO_DEV_H

#include "kavo_status.h"
#include "kavo_types.h"

class cKAVO_DEV
{
public:
    explicit cKAVO_DEV(const char *dev_path);
    ~cKAVO_DEV();

    cKAVO_DEV(const cKAVO_DEV &) = delete;
    cKAVO_DEV &operator=(const cKAVO_DEV &) = delete;

    INT32 init(const char *dev_path);
    INT is_ready() const;
    INT32 synch_ioctl(UINT32 code, void *buf, UINT32 buf_len, UINT32 timeout);

    INT32 fd() const { return m_dev_fd; }

private:
    INT32 m_dev_fd;
    bool m_initialized;
    bool m_ready;
    char m_dev_path[256];
};

/* Waits the caller has in mind for a request, in milliseconds. */
enum : UINT32 {
    KAVO_DEV_TIMEOUT_DEFAULT = 1000,
    KAVO_DEV_TIMEOUT_LONG = 2000,     /* wake-on-LAN, keyboard-repeat read, cached topology */
    KAVO_DEV_TIMEOUT_HDC_OPEN = 5000,
    KAVO_DEV_TIMEOUT_DRIVER_CFG = 500,
};

#endif /* KAVO_DEV_H */
