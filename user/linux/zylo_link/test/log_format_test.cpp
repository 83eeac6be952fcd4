/* The log line, byte for byte. */
#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include <string>

#include "capture.h"

namespace {

time_t fixed_clock() { return 1781172245; } /* 2026-06-11 10:04:05 UTC */

void some_operation() { KAVO_LOG_E("failed (ret=%d)", -500); }

TEST(LogFormat, PrefixLevelsAndNameColumn)
{
    setenv("TZ", "UTC", 1);
    tzset();
    LogCapture cap;
    kavo_log_set_clock(fixed_clock);
    m_log_level = KAVO_LOG_ERROR;
    some_operation();
    KAVO_LOG_I("not written at level E");
    m_log_level = KAVO_LOG_DEBUG;
    const int line = __LINE__ + 1;
    KAVO_ASSERT_LOG("../zylo_link/src/kavo_zylo_link_kmp");
    kavo_log_set_clock(nullptr);
    EXPECT_EQ("06/11 10:04:05 [E]                       some_operation | failed (ret=-500)\n"
              "06/11 10:04:05 [C]                             TestBody | assertion in file "
              "../zylo_link/src/kavo_zylo_link_kmp, function TestBody, line " +
                  std::to_string(line) + "\n",
              cap.text());
}

} // namespace
