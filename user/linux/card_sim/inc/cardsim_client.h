/*
 * Test-side access to the card simulator.
 *
 * cardsim::Sim starts a private `zylo_cardsim serve` on a socket of its own
 * (so tests run in parallel), points this process at it (ZYLO_CARDSIM_SOCKET)
 * and stops it again when destroyed. A test binary that links the device
 * library (libzylo_cardsim_dev.so) has its open/ioctl/close on the two card
 * nodes routed to that simulator. ctl() speaks the same control commands as
 * `zylo_cardsim ctl`, and log() returns the simulator's request log.
 */
#ifndef CARDSIM_CLIENT_H
#define CARDSIM_CLIENT_H

#include <stdint.h>

#include <string>
#include <vector>

namespace cardsim {

/* One line of the request log. */
struct LogEntry {
    uint64_t seq = 0;
    uint64_t t_us = 0;
    int pid = 0;
    std::string node;            /* "hcc" or "hdc" */
    std::string code;            /* "0x7802", or "open" / "close" */
    std::string name;            /* e.g. "HCC_IOCTL_HMI_VAR_GET" */
    std::vector<uint8_t> req;    /* the record as the program sent it */
    std::vector<uint8_t> rsp;    /* the record after the reply */
    int rv = 0;                  /* the driver's result */
    std::string fields;          /* the decoded request and reply, as JSON text */
    std::string json;            /* the whole line */
};

class Sim
{
public:
    /* Starts a simulator on a fresh socket; on failure, ok() is false and
     * error() says why. The zylo_cardsim binary is taken from the environment
     * variable ZYLO_CARDSIM_BIN, else from the build's bin directory. */
    Sim();
    ~Sim();
    Sim(const Sim &) = delete;
    Sim &operator=(const Sim &) = delete;

    bool ok() const;
    const std::string &error() const;
    const std::string &socket_path() const;

    /* A control command, as the words after `zylo_cardsim ctl`; returns its
     * exit status (0 success) and its output in *out when given. */
    int ctl(const std::vector<std::string> &args, std::string *out = nullptr);

    /* Request log entries with seq > since. */
    std::vector<LogEntry> log(uint64_t since = 0);
    /* The highest seq logged so far (0 when none). */
    uint64_t last_seq();

private:
    std::string m_socket;
    std::string m_dir;
    std::string m_error;
    int m_pid = -1;
};

/* Helpers for tests that read records at fixed offsets. */
uint32_t le32(const std::vector<uint8_t> &b, size_t off);
uint16_t le16(const std::vector<uint8_t> &b, size_t off);
int32_t le32s(const std::vector<uint8_t> &b, size_t off);
std::vector<uint8_t> from_hex(const std::string &hex);
/* Parses one JSON log line; false when it is not one. */
bool parse_log_line(const std::string &line, LogEntry *entry);

} // namespace cardsim

#endif /* CARDSIM_CLIENT_H */
