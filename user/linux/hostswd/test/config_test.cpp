/* Configuration tokenising, the who -u classification and the pid file. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "kavo_hostswd.h"

namespace {

class HostswdCfg : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/hostswd_cfg_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_path = m_dir + "/zylohostswd.conf";
        m_log = tmpfile();
        kavo_log_set_stream(m_log);
        m_log_level = KAVO_LOG_DEBUG;
        config_table_reset();
    }
    void TearDown() override
    {
        kavo_log_set_stream(nullptr);
        fclose(m_log);
        unlink(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    sKAVO_HOSTSW_DAEMON_CONFIG read(const std::string &text)
    {
        FILE *f = fopen(m_path.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        sKAVO_HOSTSW_DAEMON_CONFIG cfg;
        memset(&cfg, 0x55, sizeof(cfg));
        get_config_from(m_path.c_str(), &cfg);
        return cfg;
    }
    std::string log_text()
    {
        fflush(m_log);
        std::string s;
        rewind(m_log);
        int c;
        while ((c = getc(m_log)) != EOF)
            s += (char)c;
        return s;
    }
    std::string m_dir, m_path;
    FILE *m_log = nullptr;
};

struct CfgCase {
    const char *text;
    UINT32 enable;
    const char *log_file;
    UINT32 level;
    UINT32 delay;
};

TEST_F(HostswdCfg, TokenisingTable)
{
    const char *def = "/var/log/zylohostswd.log";
    const CfgCase cases[] = {
        {"", 1, def, 3, 1},
        {"DaemonLogLevel=4\n", 1, def, 4, 1},
        {"DaemonLogLevel = 4\n", 1, def, 4, 1},
        {"DaemonLogLevel 4\n", 1, def, 4, 1},
        {"DaemonLogFile=/var/log/x.log\n", 1, "/var/log/x.log", 3, 1},
        {"DaemonLogFile = /var/log/x.log\n", 1, " /var/log/x.log", 3, 1},
        {"DaemonLogFile=/tmp/a b # not a comment\n", 1, "/tmp/a b # not a comment", 3, 1},
        {"#DaemonEnable=0\n", 1, def, 3, 1},
        {" #DaemonEnable=0\n", 1, def, 3, 1},   /* '#' is a key of its own */
        {"DaemonEnable=0\nDaemonEnable=1\nDaemonEnable=0", 0, def, 3, 1},
        {"DaemonEnable\n", 1, def, 3, 1},      /* no value: keep it */
        {"DaemonEnable=\n", 1, def, 3, 1},
        {"DaemonStartDelay=   \n", 1, def, 3, 1},
        {"DaemonStartDelay=7x\n", 1, def, 3, 7},
        {"DaemonStartDelay=abc\n", 1, def, 3, 0},
        {"daemonenable=0\n\n   \n", 1, def, 3, 1},
        {"DaemonLogLevel=99999999999999\n", 1, def, 0x7fffffff, 1},
    };
    for (const CfgCase &c : cases) {
        config_table_reset();
        sKAVO_HOSTSW_DAEMON_CONFIG cfg = read(c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(cfg.enable, c.enable);
        EXPECT_STREQ(cfg.log_file, c.log_file);
        EXPECT_EQ(cfg.log_level, c.level);
        EXPECT_EQ(cfg.start_delay, c.delay);
    }
    EXPECT_NE(log_text().find("failed to find '#DaemonEnable'"), std::string::npos);
}

/* The installed sample states the defaults and sets nothing else. */
TEST_F(HostswdCfg, SampleConfigGivesDefaults)
{
    sKAVO_HOSTSW_DAEMON_CONFIG cfg;
    get_config_from(HOSTSWD_SAMPLE_CONF, &cfg);
    EXPECT_EQ(cfg.enable, 1u);
    EXPECT_STREQ(cfg.log_file, "/var/log/zylohostswd.log");
    EXPECT_EQ(cfg.log_level, 3u);
    EXPECT_EQ(cfg.start_delay, 1u);
    EXPECT_EQ(log_text().find("[E]"), std::string::npos);
}

TEST_F(HostswdCfg, MissingFileKeepsDefaults)
{
    sKAVO_HOSTSW_DAEMON_CONFIG cfg;
    get_config_from((m_dir + "/nope.conf").c_str(), &cfg);
    EXPECT_EQ(cfg.enable, 1u);
    EXPECT_STREQ(cfg.log_file, "/var/log/zylohostswd.log");
    EXPECT_EQ(cfg.start_delay, 1u);
    EXPECT_NE(log_text().find("Unable to open daemon config file"), std::string::npos);
}

/* The tail of an over-long comment must never be read as a line. */
TEST_F(HostswdCfg, OverlongLineTailIsDropped)
{
    std::string text = "#" + std::string(300, 'c') + "DaemonEnable=0\n";
    text += "DaemonLogFile=/" + std::string(3000, 'p') + "\n";
    text += "DaemonStartDelay=5\n";
    sKAVO_HOSTSW_DAEMON_CONFIG cfg = read(text);
    EXPECT_EQ(cfg.enable, 1u);
    EXPECT_EQ(cfg.start_delay, 5u);
    /* The path is cut at what one read holds and stays terminated. */
    EXPECT_EQ(strlen(cfg.log_file), 255u - strlen("DaemonLogFile="));
    EXPECT_EQ(cfg.log_file[0], '/');
    std::string log = log_text();
    EXPECT_NE(log.find("[E]"), std::string::npos);
    EXPECT_NE(log.find("the rest is dropped"), std::string::npos);
}

TEST_F(HostswdCfg, BinaryBytesAreHarmless)
{
    std::string text("DaemonLog\0Level=4\n\xff\xfe\x01\x80=\x7f\n", 22);
    for (int i = 0; i < 2000; i++)
        text += (char)(i * 37 % 256);
    text += "\nDaemonStartDelay=2\n";
    sKAVO_HOSTSW_DAEMON_CONFIG cfg = read(text);
    EXPECT_EQ(cfg.enable, 1u);
    EXPECT_EQ(cfg.log_level, 3u);
    EXPECT_EQ(cfg.start_delay, 2u);
    EXPECT_LT(strlen(cfg.log_file), sizeof(cfg.log_file));
}

TEST(HostswdReadLine, ExactlyFullLineIsNotOverlong)
{
    char buf[8];
    FILE *f = fmemopen((void *)"1234567\nab\n12345678\n", 20, "r");
    EXPECT_EQ(config_read_line(f, buf, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(config_read_line(f, buf, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "ab\n");
    EXPECT_EQ(config_read_line(f, buf, sizeof(buf)), 2);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(config_read_line(f, buf, sizeof(buf)), 0);
    fclose(f);
}

TEST(HostswdWho, LineClassification)
{
    m_log_level = KAVO_LOG_NONE;
    struct {
        const char *line;
        int local;
    } cases[] = {
        {"alice    :0           2026-12-10 23:01   ?          1234 (:0)\n", 1},
        {"alice :1\n", 1},
        {"alice    tty7         2026-12-10 23:01  old         1234 (:0)\n", 1},
        {"bob      pts/0        2026-12-10 23:05   .          4321 (host.example.org)\n", 0},
        {"carol    tty1         2026-12-10 23:06  00:10       999\n", 0},
        {"", 0},
        {"alice:0\n", 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(who_line_is_local_login(c.line), c.local) << c.line;

    /* A first word as long as the whole line still fits its buffer. */
    std::string longname(600, 'u'); /* cut at 499: no overrun, no match */
    EXPECT_EQ(who_line_is_local_login((longname + " :0").c_str()), 0);
    EXPECT_EQ(who_line_is_local_login((std::string(495, 'u') + " :0").c_str()), 1);
}

TEST(HostswdPidFile, ShorterPidTruncatesOlder)
{
    char path[] = "/tmp/hostswd_pid_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "12345\n", 6), 6);
    ASSERT_EQ(lock_file_write_pid(fd, 999), 0);
    char buf[16] = {};
    EXPECT_EQ(pread(fd, buf, sizeof(buf) - 1, 0), 4);
    EXPECT_STREQ(buf, "999\n");
    close(fd);
    unlink(path);
}

} // namespace
