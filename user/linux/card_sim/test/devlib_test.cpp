/* The device library and the simulator as a program sees them. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "cardsim_client.h"
#include "kavo_zylo_apdu.h"

namespace {

struct SimFixture : ::testing::Test {
    cardsim::Sim sim;
    void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error(); }

    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK read_sess(int fd)
    {
        sKAVO_ZYLO_HCC_APDU_HMI_VAR v;
        memset(&v, 0, sizeof(v));
        v.var = KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK;
        EXPECT_EQ(0, ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v));
        return v.data.sess_link;
    }
};

TEST_F(SimFixture, OtherPathsAndDescriptorsPassThrough)
{
    int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(-1, ioctl(fd, HCC_IOCTL_HMI_VAR_GET, nullptr));
    EXPECT_EQ(ENOTTY, errno);
    EXPECT_EQ(0, close(fd));
    EXPECT_TRUE(sim.log().empty()); /* the simulator saw nothing */
}

TEST_F(SimFixture, NoSimulatorMeansNoDriver)
{
    std::string saved = getenv("ZYLO_CARDSIM_SOCKET");
    setenv("ZYLO_CARDSIM_SOCKET", "/tmp/no-such-cardsim.sock", 1);
    errno = 0;
    EXPECT_EQ(-1, open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR));
    EXPECT_EQ(ENOENT, errno);
    setenv("ZYLO_CARDSIM_SOCKET", saved.c_str(), 1);
}

TEST_F(SimFixture, RequestsAreLoggedWithTheirBytes)
{
    int fd = open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, sim.ctl({"session", "up", "--mac", "AA-BB"}));
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK s = read_sess(fd);
    EXPECT_EQ(1, s.flags & 1);
    EXPECT_STREQ("AA-BB", s.mac);
    close(fd);

    auto log = sim.log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("open", log[0].code);
    EXPECT_EQ("hcc", log[1].node);
    EXPECT_EQ("0x7802", log[1].code);
    EXPECT_EQ("HCC_IOCTL_HMI_VAR_GET", log[1].name);
    ASSERT_EQ(252u, log[1].req.size());
    EXPECT_EQ(3u, cardsim::le32(log[1].req, 0));
    EXPECT_EQ(1u, log[1].rsp[4]);            /* flags */
    EXPECT_EQ('A', log[1].rsp[24]);          /* mac at data offset 20 */
    EXPECT_EQ(getpid(), log[1].pid);
    EXPECT_EQ("close", log[2].code);
    for (const char *key : {"\"seq\":", "\"t_us\":", "\"pid\":", "\"node\":", "\"code\":",
                            "\"name\":", "\"req\":", "\"rsp\":", "\"rv\":", "\"fields\":"})
        EXPECT_NE(std::string::npos, log[1].json.find(key)) << key;
}

TEST_F(SimFixture, InjectedFailuresAndGarbage)
{
    int fd = open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, sim.ctl({"fail", "0x7802", "2"}));
    sKAVO_ZYLO_HCC_APDU_HMI_VAR v;
    for (int i = 0; i < 2; i++) {
        memset(&v, 0, sizeof(v));
        v.var = 3;
        errno = 0;
        EXPECT_EQ(-1, ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v));
        EXPECT_EQ(EIO, errno);
        EXPECT_EQ(0, v.data.raw[0]); /* record untouched */
    }
    ASSERT_EQ(0, sim.ctl({"garbage", "0x7802"}));
    memset(&v, 0, sizeof(v));
    v.var = 3;
    EXPECT_EQ(0, ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v));
    EXPECT_EQ(3u, v.var);
    for (size_t i = 0; i < sizeof(v.data.raw); i++)
        ASSERT_NE(0, v.data.raw[i]) << i;
    /* once only */
    EXPECT_EQ(0, ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v));
    EXPECT_EQ(0, v.data.sess_link.mac[0]);
    /* a code the driver does not know, and one sent to the wrong node */
    EXPECT_EQ(-1, ioctl(fd, 0x7805, &v));
    EXPECT_EQ(ENOTTY, errno);
    EXPECT_EQ(-1, ioctl(fd, HDC_IOCTL_KMP_FEAT_EN, &v));
    EXPECT_EQ(ENOTTY, errno);
    close(fd);
}

TEST_F(SimFixture, TransitionsWrapAndHostDisconnectsEndTheSession)
{
    int fd = open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, sim.ctl({"set", "sess.transition_cnt", "255"}));
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    EXPECT_EQ(0, read_sess(fd).transition_cnt);

    sKAVO_ZYLO_HCC_APDU_HMI_VAR v;
    memset(&v, 0, sizeof(v));
    v.var = KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_DISC;
    v.data.sess_disc.reason_cause = 512;
    ASSERT_EQ(0, ioctl(fd, HCC_IOCTL_HMI_VAR_SET, &v));
    sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK s = read_sess(fd);
    EXPECT_EQ(0, s.flags & 1);
    EXPECT_EQ(1, s.transition_cnt);

    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    memset(&v, 0, sizeof(v));
    v.var = KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK; /* flags 0: down */
    ASSERT_EQ(0, ioctl(fd, HCC_IOCTL_HMI_VAR_SET, &v));
    s = read_sess(fd);
    EXPECT_EQ(0, s.flags & 1);
    EXPECT_EQ(3, s.transition_cnt);

    std::string state;
    ASSERT_EQ(0, sim.ctl({"state"}, &state));
    EXPECT_NE(std::string::npos, state.find("\"sess.disc_cause\":512"));
    EXPECT_NE(std::string::npos, state.find("\"session.disc_way\":\"sess_link\""));
    close(fd);
}

TEST_F(SimFixture, ForkedChildKeepsUsingTheParentsNode)
{
    int fd = open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR);
    ASSERT_GE(fd, 0);
    pid_t child = fork();
    if (child == 0) {
        sKAVO_ZYLO_HCC_APDU_HMI_VAR v;
        memset(&v, 0, sizeof(v));
        v.var = 3;
        _exit(ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v) == 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
    auto log = sim.log();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(child, log[1].pid);
    close(fd);
}

TEST(SimSideBySide, TwoSimulatorsKeepTheirOwnState)
{
    cardsim::Sim a;
    cardsim::Sim b;
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_NE(a.socket_path(), b.socket_path());
    ASSERT_EQ(0, a.ctl({"session", "up"}));
    std::string sa, sb;
    ASSERT_EQ(0, a.ctl({"state"}, &sa));
    ASSERT_EQ(0, b.ctl({"state"}, &sb));
    EXPECT_NE(std::string::npos, sa.find("\"session.up\":true"));
    EXPECT_NE(std::string::npos, sb.find("\"session.up\":false"));
}

TEST_F(SimFixture, MissingNodeAndBadControlWords)
{
    ASSERT_EQ(0, sim.ctl({"set", "dev.hdc_present", "0"}));
    errno = 0;
    EXPECT_EQ(-1, open(KAVO_ZYLO_HDC_DEV_PATH, O_RDWR));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_EQ(2, sim.ctl({"set", "no.such.key", "1"}));
    EXPECT_EQ(2, sim.ctl({"set", "sess.transition_cnt", "256"}));
    EXPECT_EQ(2, sim.ctl({"session", "up", "--monitor", "9:1x1+0+0@60"}));
    EXPECT_EQ(1, sim.ctl({"wait", "0x7902", "--timeout", "0.2"}));
}

} // namespace
