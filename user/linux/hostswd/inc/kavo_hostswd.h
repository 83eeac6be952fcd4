/*
 * zylohostswd, the login-screen daemon: configuration, logging and
 * daemonising (kavo_hostswd_cfg, kavo_hostswd_daemon), the local login poll
 * (kavo_hostswd_login) and the supervision loop (kavo_hostswd_loop).
 */
#ifndef KAVO_HOSTSWD_H
#define KAVO_HOSTSWD_H

#include <stdio.h>

#include "kavo_log.h"
#include "kavo_types.h"
#include "kavo_zylo_link.h"

#define KAVO_HOSTSWD_CONFIG_FILE "/etc/zylohostswd.conf"
#define KAVO_HOSTSWD_LOCK_FILE "/var/run/zylohostswd.pid"

#define KAVO_HOSTSWD_LOG_FILE_LEN 400
#define KAVO_HOSTSWD_TEXT_VALUE_LEN 256
#define KAVO_HOSTSWD_CONFIG_LINE_LEN 256 /* 255 characters a read */
#define KAVO_HOSTSWD_WHO_LINE_LEN 500    /* 499 characters a read */
#define KAVO_HOSTSWD_ENABLE_ATTEMPTS 20

typedef struct sKAVO_HOSTSW_DAEMON_CONFIG_STRUCT {
    UINT32 enable;
    char log_file[KAVO_HOSTSWD_LOG_FILE_LEN];
    UINT32 log_level;
    UINT32 start_delay;
} sKAVO_HOSTSW_DAEMON_CONFIG;

enum {
    KAVO_HOSTSWD_TYPE_TEXT = 0,
    KAVO_HOSTSWD_TYPE_INT = 1,
};

enum {
    KAVO_HOSTSWD_IDX_ENABLE = 0,
    KAVO_HOSTSWD_IDX_LOG_FILE = 1,
    KAVO_HOSTSWD_IDX_LOG_LEVEL = 2,
    KAVO_HOSTSWD_IDX_START_DELAY = 3,
    KAVO_HOSTSWD_NUM_KEYS = 4,
};

typedef struct sKAVO_HOSTSWD_CFG_ENTRY_STRUCT {
    const char *key;
    int type;
    char text[KAVO_HOSTSWD_TEXT_VALUE_LEN];
    INT32 value;
} sKAVO_HOSTSWD_CFG_ENTRY;

/* The keys and their current values; the defaults until the file is read. */
extern sKAVO_HOSTSWD_CFG_ENTRY config_lookup_table[KAVO_HOSTSWD_NUM_KEYS];

/* ---- configuration (kavo_hostswd_cfg) ---- */
void config_table_reset(void);
int get_field_name_index(const char *field);
void get_config(sKAVO_HOSTSW_DAEMON_CONFIG *config);
void get_config_from(const char *path, sKAVO_HOSTSW_DAEMON_CONFIG *config);
/* One line of the file: 1 when it set a table value, 0 when skipped. */
int config_parse_line(char *line);
/* Reads one line into buf (at most size - 1 bytes, NUL-terminated).
 * Returns 0 at end of file, 1 for a line, 2 for a line whose rest past
 * size - 1 bytes was dropped. */
int config_read_line(FILE *file, char *buf, size_t size);
void dump_config(const sKAVO_HOSTSW_DAEMON_CONFIG *config);

/* ---- logging and daemonising (kavo_hostswd_daemon) ---- */
/* level is an eKAVO_LOG_LEVEL; taken as the unsigned value read from the
 * configuration so that out-of-range values are handled, not cast. */
int init_logging(UINT32 level, const char *path);
void daemon_handler(int signum);
void daemonize(void);
/* Writes the pid at the start of the lock file and cuts the file there.
 * 0 or -1. */
int lock_file_write_pid(int fd, long pid);

/* ---- local login poll (kavo_hostswd_login) ---- */
/* 1 when the `who -u` line shows a local graphical login, else 0. */
int who_line_is_local_login(const char *line);
int is_user_logged_in_locally(void);

/* ---- supervision loop (kavo_hostswd_loop) ---- */
int enable_local_cursor_with_relative_reports(cKAVO_ZYLO_LINK &link);
void disable_local_cursor(cKAVO_ZYLO_LINK &link);
int update_driver_cfg(cKAVO_ZYLO_LINK &link, eKAVO_ZYLO_LINK_LCUR_EVT_ALG_TYPE mode);
/* One pass after the heartbeat: applies a login poll to the kept state. */
void supervise_pass(cKAVO_ZYLO_LINK &link, int *kept_state, int poll, INT sess_link_change,
                    const sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *sess_link);
void supervise(cKAVO_ZYLO_LINK &link, UINT32 start_delay) __attribute__((noreturn));

#endif /* KAVO_HOSTSWD_H */
