/* Captures the log helper's lines in memory for one test. */
#ifndef ZYLO_LINK_TEST_CAPTURE_H
#define ZYLO_LINK_TEST_CAPTURE_H

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "kavo_log.h"

class LogCapture
{
public:
    LogCapture()
    {
        m_file = open_memstream(&m_buf, &m_len);
        kavo_log_set_stream(m_file);
        m_log_level = KAVO_LOG_DEBUG;
    }
    ~LogCapture()
    {
        kavo_log_set_stream(nullptr);
        fclose(m_file);
        free(m_buf);
    }
    std::string text()
    {
        fflush(m_file);
        return std::string(m_buf, m_len);
    }
    /* How many lines end with "| " + msg. */
    int count(const std::string &msg)
    {
        std::string t = text(), pat = "| " + msg + "\n";
        int n = 0;
        for (size_t p = t.find(pat); p != std::string::npos; p = t.find(pat, p + 1))
            n++;
        return n;
    }

private:
    FILE *m_file;
    char *m_buf = nullptr;
    size_t m_len = 0;
};

#endif
