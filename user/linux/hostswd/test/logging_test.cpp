/* init_logging: levels, the log file, an unopenable path. Each case runs in a
 * child process because a successful call takes over stdout and stderr. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "kavo_hostswd.h"

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

/* Child exit status: init_logging's result + 1, times 10, plus the level. */
int run_child(UINT32 level, const std::string &path, const std::string &err_path)
{
    pid_t pid = fork();
    if (pid == 0) {
        FILE *err = fopen(err_path.c_str(), "w");
        kavo_log_set_stream(stderr);
        dup2(fileno(err), STDERR_FILENO);
        m_log_level = KAVO_LOG_INFO;
        int rc = init_logging(level, path.c_str());
        KAVO_LOG_E("an error line");
        KAVO_LOG_I("an info line");
        _exit((rc + 1) * 10 + m_log_level);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HostswdLogging, LevelsFileAndFailure)
{
    char tmpl[] = "/tmp/hostswd_log_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl, log = dir + "/d.log", err = dir + "/err";

    /* Above 4: errors only, into the file; the success line is not written. */
    EXPECT_EQ(run_child(9, log, err), 12);
    std::string text = slurp(log);
    EXPECT_NE(text.find("[E]"), std::string::npos);
    EXPECT_EQ(text.find("[I]"), std::string::npos);
    unlink(log.c_str());

    /* Level 4: the success line names the file. */
    EXPECT_EQ(run_child(4, log, err), 14);
    EXPECT_NE(slurp(log).find("success: level 4, file " + log), std::string::npos);
    unlink(log.c_str());

    /* Level 0: nothing opened, nothing logged. */
    EXPECT_EQ(run_child(0, log, err), 10);
    EXPECT_EQ(access(log.c_str(), F_OK), -1);
    EXPECT_EQ(slurp(err), "");

    /* A path that cannot be opened: -1 and the reason on stderr. */
    std::string bad = dir + "/no/such/dir/x.log";
    EXPECT_EQ(run_child(3, bad, err), 3);
    EXPECT_NE(slurp(err).find("Error opening logfile " + bad + " (ret -1)"), std::string::npos);

    unlink(err.c_str());
    rmdir(dir.c_str());
}

} // namespace
