#include "kavo_log.h"

#include <stdarg.h>
#include <string.h>

int m_log_level = KAVO_LOG_NONE;

static FILE *s_stream;
static kavo_log_clock_fn s_clock;

void kavo_log_set_stream(FILE *stream) { s_stream = stream; }

FILE *kavo_log_stream(void) { return s_stream ? s_stream : stdout; }

void kavo_log_set_clock(kavo_log_clock_fn clock) { s_clock = clock; }

static char level_letter(int level)
{
    static const char letters[] = "-CEID";
    if (level < KAVO_LOG_NONE || level > KAVO_LOG_DEBUG)
        return '?';
    return letters[level];
}

void kavo_log_write(int level, const char *func, const char *fmt, ...)
{
    char line[2048];
    time_t now = s_clock ? s_clock() : time(NULL);
    struct tm tm;
    localtime_r(&now, &tm);

    int len = snprintf(line, sizeof(line), "%02d/%02d %02d:%02d:%02d [%c] %36s | ",
                       tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                       level_letter(level), func ? func : "");
    if (len < 0)
        return;
    if ((size_t)len >= sizeof(line) - 1)
        len = (int)sizeof(line) - 2;

    va_list ap;
    va_start(ap, fmt);
    int msg = vsnprintf(line + len, sizeof(line) - (size_t)len - 1, fmt, ap);
    va_end(ap);
    if (msg > 0)
        len += msg;
    if ((size_t)len > sizeof(line) - 2)
        len = (int)sizeof(line) - 2; /* an over-long message is cut */
    line[len++] = '\n';

    FILE *out = kavo_log_stream();
    fwrite(line, 1, (size_t)len, out);
    fflush(out);
}

size_t kavo_text_copy(char *dst, size_t dst_size, const void *field, size_t width)
{
    if (!dst || dst_size == 0)
        return 0;
    size_t n = field ? strnlen((const char *)field, width) : 0;
    if (n > dst_size - 1)
        n = dst_size - 1;
    if (n)
        memcpy(dst, field, n);
    dst[n] = '\0';
    return n;
}
