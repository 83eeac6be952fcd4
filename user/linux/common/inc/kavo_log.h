/*
 * The logging helper shared by both programs.
 *
 * A line is "MM/DD hh:mm:ss [L] <function right-aligned in 36> | message\n" in
 * local time. It is written when the process-wide level m_log_level is at
 * least the line's own level. The agent logs to standard output, the daemon
 * (link layer included) to standard error: kavo_log_set_stream() picks it.
 */
#ifndef KAVO_LOG_H
#define KAVO_LOG_H

#include <stdio.h>
#include <time.h>

typedef enum eKAVO_LOG_LEVEL {
    KAVO_LOG_NONE = 0,
    KAVO_LOG_CRITICAL = 1,
    KAVO_LOG_ERROR = 2,
    KAVO_LOG_INFO = 3,
    KAVO_LOG_DEBUG = 4,
} eKAVO_LOG_LEVEL;

/* The process-wide logging level that every log call tests. */
extern int m_log_level;

/* Where lines go; standard output unless a program chooses otherwise. */
void kavo_log_set_stream(FILE *stream);
FILE *kavo_log_stream(void);

/* Replaces the clock (for tests); null restores time(). */
typedef time_t (*kavo_log_clock_fn)(void);
void kavo_log_set_clock(kavo_log_clock_fn clock);

void kavo_log_write(int level, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

#define KAVO_LOG(level, ...)                                                   \
    do {                                                                       \
        if (m_log_level >= (level))                                            \
            kavo_log_write((level), __func__, __VA_ARGS__);                    \
    } while (0)

#define KAVO_LOG_C(...) KAVO_LOG(KAVO_LOG_CRITICAL, __VA_ARGS__)
#define KAVO_LOG_E(...) KAVO_LOG(KAVO_LOG_ERROR, __VA_ARGS__)
#define KAVO_LOG_I(...) KAVO_LOG(KAVO_LOG_INFO, __VA_ARGS__)
#define KAVO_LOG_D(...) KAVO_LOG(KAVO_LOG_DEBUG, __VA_ARGS__)

/* An assertion that logs at level C and does not stop the program. `file`
 * is the source unit's name as it should appear in the line. */
#define KAVO_ASSERT_LOG(file)                                                  \
    KAVO_LOG_C("assertion in file %s, function %s, line %d", (file), __func__, \
               __LINE__)

/* Bounded copy of a text field of width `width` into `dst` of `dst_size`
 * bytes: reads no byte past the field, always NUL-terminates. Returns the
 * length copied. */
size_t kavo_text_copy(char *dst, size_t dst_size, const void *field, size_t width);

#endif /* KAVO_LOG_H */
