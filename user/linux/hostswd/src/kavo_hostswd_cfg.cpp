/*
 * The daemon's configuration file: four keys, "key=value" lines, '#' in the
 * first column starts a comment. Lines are read 255 characters at a time; the
 * rest of a longer line is dropped, never read as a line of its own.
 */
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "kavo_hostswd.h"

sKAVO_HOSTSWD_CFG_ENTRY config_lookup_table[KAVO_HOSTSWD_NUM_KEYS];

void config_table_reset(void)
{
    static const sKAVO_HOSTSWD_CFG_ENTRY defaults[KAVO_HOSTSWD_NUM_KEYS] = {
        {"DaemonEnable", KAVO_HOSTSWD_TYPE_INT, "", 1},
        {"DaemonLogFile", KAVO_HOSTSWD_TYPE_TEXT, "/var/log/zylohostswd.log", 0},
        {"DaemonLogLevel", KAVO_HOSTSWD_TYPE_INT, "", 3},
        {"DaemonStartDelay", KAVO_HOSTSWD_TYPE_INT, "", 1},
    };
    memcpy(config_lookup_table, defaults, sizeof(defaults));
}

int get_field_name_index(const char *field)
{
    for (int i = 0; i < KAVO_HOSTSWD_NUM_KEYS; i++) {
        if (strcmp(field, config_lookup_table[i].key) == 0) {
            KAVO_LOG_D("matched field '%s' at index %d", field, i);
            return i;
        }
    }
    KAVO_LOG_E("failed to find '%s'", field);
    return -1;
}

/* Decimal conversion: leading white space skipped, stops at the first
 * non-digit, no number gives 0; out-of-range values are clamped. */
static INT32 config_int_value(const char *text)
{
    errno = 0;
    long v = strtol(text, NULL, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return (INT32)v;
}

static int config_value_is_blank(const char *value)
{
    for (; *value; value++)
        if (!isspace((unsigned char)*value))
            return 0;
    return 1;
}

static int config_store_value(int idx, const char *value)
{
    sKAVO_HOSTSWD_CFG_ENTRY *entry = &config_lookup_table[idx];

    switch (entry->type) {
    case KAVO_HOSTSWD_TYPE_TEXT:
        kavo_text_copy(entry->text, sizeof(entry->text), value, strlen(value));
        return 1;
    case KAVO_HOSTSWD_TYPE_INT:
        entry->value = config_int_value(value);
        return 1;
    default:
        KAVO_LOG_E("Illegal type %d in lookup table at index %d field %s", entry->type, idx,
                   entry->key);
        return 0;
    }
}

int config_parse_line(char *line)
{
    char *save = NULL;

    if (line[0] == '#')
        return 0;
    char *field = strtok_r(line, " =\n", &save);
    if (!field)
        return 0;
    KAVO_LOG_D("Processing field name: %s", field);

    int idx = get_field_name_index(field);
    if (idx < 0) {
        KAVO_LOG_D("returned idx %d, skipping line: %s", idx, field);
        return 0;
    }

    /* The value runs to the end of the line: spaces stay part of it. */
    char *value = strtok_r(NULL, "=\n", &save);
    if (!value || config_value_is_blank(value)) {
        KAVO_LOG_I("no value for '%s', keeping the current one", field);
        return 0;
    }
    KAVO_LOG_D("value = %s", value);
    return config_store_value(idx, value);
}

int config_read_line(FILE *file, char *buf, size_t size)
{
    size_t len = 0;
    int c = EOF;

    while (len + 1 < size && (c = getc(file)) != EOF) {
        buf[len++] = (char)c;
        if (c == '\n')
            break;
    }
    buf[len] = '\0';
    if (len == 0 && c == EOF)
        return 0;
    if (c == '\n' || c == EOF)
        return 1;

    /* Buffer full: drop whatever is left of this line. */
    int dropped = 0;
    while ((c = getc(file)) != EOF && c != '\n')
        dropped = 1;
    return dropped ? 2 : 1;
}

static void config_table_to_record(sKAVO_HOSTSW_DAEMON_CONFIG *config)
{
    const sKAVO_HOSTSWD_CFG_ENTRY *t = config_lookup_table;

    config->enable = (UINT32)t[KAVO_HOSTSWD_IDX_ENABLE].value;
    kavo_text_copy(config->log_file, sizeof(config->log_file), t[KAVO_HOSTSWD_IDX_LOG_FILE].text,
                   sizeof(t[KAVO_HOSTSWD_IDX_LOG_FILE].text));
    config->log_level = (UINT32)t[KAVO_HOSTSWD_IDX_LOG_LEVEL].value;
    config->start_delay = (UINT32)t[KAVO_HOSTSWD_IDX_START_DELAY].value;
}

void get_config_from(const char *path, sKAVO_HOSTSW_DAEMON_CONFIG *config)
{
    char line[KAVO_HOSTSWD_CONFIG_LINE_LEN];
    int line_no = 0;
    int rc;

    if (!config_lookup_table[0].key)
        config_table_reset();

    FILE *file = fopen(path, "r");
    if (!file) {
        KAVO_LOG_I("Unable to open daemon config file %s", path);
        config_table_to_record(config);
        return;
    }
    while ((rc = config_read_line(file, line, sizeof(line))) != 0) {
        line_no++;
        if (rc == 2)
            KAVO_LOG_E("line %d of %s is longer than %d characters, the rest is dropped",
                       line_no, path, (int)sizeof(line) - 1);
        config_parse_line(line);
    }
    fclose(file);
    config_table_to_record(config);
}

void get_config(sKAVO_HOSTSW_DAEMON_CONFIG *config)
{
    get_config_from(KAVO_HOSTSWD_CONFIG_FILE, config);
}

void dump_config(const sKAVO_HOSTSW_DAEMON_CONFIG *config)
{
    KAVO_LOG_I("logfile %s level %d daemon_en %d Daemon dly %d", config->log_file,
               (int)config->log_level, (int)config->enable, (int)config->start_delay);
}
