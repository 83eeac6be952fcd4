#include "kavo_dev.h"

#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "kavo_log.h"

cKAVO_DEV::cKAVO_DEV(const char *dev_path)
    : m_dev_fd(-1), m_initialized(false), m_ready(false)
{
    KAVO_LOG_D("start");
    memset(m_dev_path, 0, sizeof(m_dev_path));
    if (dev_path) {
        INT32 rv = init(dev_path);
        if (rv)
            KAVO_LOG_D("init() failed: returned %d", rv);
    }
    KAVO_LOG_D("end");
}

cKAVO_DEV::~cKAVO_DEV()
{
    KAVO_LOG_D("start");
    if (m_dev_fd != -1)
        close(m_dev_fd);
    KAVO_LOG_D("end");
}

INT32 cKAVO_DEV::init(const char *dev_path)
{
    KAVO_LOG_D("start");
    if (!dev_path)
        return KAVO_ERR_INVALID_ARG;
    if (m_initialized) {
        KAVO_LOG_D("end");
        return KAVO_OK;
    }
    int fd = open(dev_path, O_RDWR);
    if (fd < 0)
        return KAVO_ERR_OPEN;
    m_dev_fd = fd;
    m_initialized = true;
    m_ready = true;
    KAVO_LOG_D("end");
    return KAVO_OK;
}

INT cKAVO_DEV::is_ready() const
{
    KAVO_LOG_D("m_initialized = %d, m_ready = %d", m_initialized, m_ready);
    return m_initialized && m_ready;
}

INT32 cKAVO_DEV::synch_ioctl(UINT32 code, void *buf, UINT32 buf_len, UINT32 timeout)
{
    (void)buf_len; /* the driver knows each record's size */
    (void)timeout; /* the call blocks for as long as the driver takes */
    if (!m_initialized) {
        KAVO_LOG_E("not m_initialized");
        return KAVO_ERR_NOT_INIT;
    }
    int rv = ioctl(m_dev_fd, code, buf);
    if (rv < 0) {
        KAVO_LOG_E("ioctl 0x%08X failed (rv=%d)", code, rv);
        return KAVO_ERR_FAIL;
    }
    return KAVO_OK;
}
