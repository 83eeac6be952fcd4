/* The device channel against the simulated driver. */
#include <string.h>

#include <gtest/gtest.h>

#include "capture.h"
#include "cardsim_client.h"
#include "kavo_dev.h"
#include "kavo_zylo_apdu.h"

namespace {

struct ChannelFixture : ::testing::Test {
    cardsim::Sim sim;
    LogCapture cap;
    void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error(); }
};

TEST_F(ChannelFixture, UnopenedChannelRefusesWithoutCallingTheDriver)
{
    ASSERT_EQ(0, sim.ctl({"set", "dev.hcc_present", "0"}));
    cKAVO_DEV dev(KAVO_ZYLO_HCC_DEV_PATH);
    EXPECT_EQ(1, cap.count("init() failed: returned -510"));
    EXPECT_FALSE(dev.is_ready());

    uint64_t since = sim.last_seq();
    sKAVO_ZYLO_HCC_APDU_HMI_VAR rec;
    memset(&rec, 0xA5, sizeof(rec));
    EXPECT_EQ(KAVO_ERR_NOT_INIT, dev.synch_ioctl(HCC_IOCTL_HMI_VAR_GET, &rec, sizeof(rec), 1000));
    EXPECT_EQ(1, cap.count("not m_initialized"));
    for (size_t i = 0; i < sizeof(rec); i++)
        ASSERT_EQ(0xA5, ((unsigned char *)&rec)[i]);
    EXPECT_TRUE(sim.log(since).empty());
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, dev.init(nullptr));
}

TEST_F(ChannelFixture, InitTwiceKeepsTheFirstDescriptor)
{
    cKAVO_DEV dev(nullptr);
    ASSERT_EQ(0, dev.init(KAVO_ZYLO_HCC_DEV_PATH));
    INT32 fd = dev.fd();
    EXPECT_EQ(0, dev.init(KAVO_ZYLO_HDC_DEV_PATH));
    EXPECT_EQ(fd, dev.fd());
    EXPECT_TRUE(dev.is_ready());
    int opens = 0;
    for (auto &e : sim.log())
        opens += e.code == "open";
    EXPECT_EQ(1, opens);
}

TEST_F(ChannelFixture, DriverResultsMapToStatus)
{
    cKAVO_DEV dev(KAVO_ZYLO_HCC_DEV_PATH);
    sKAVO_ZYLO_HCC_APDU_HMI_MAP map;
    ASSERT_EQ(0, sim.ctl({"result", "0x7801", "3"}));
    EXPECT_EQ(0, dev.synch_ioctl(HCC_IOCTL_HMI_AVAIL_CMD_GET, &map, sizeof(map), 1000));
    ASSERT_EQ(0, sim.ctl({"fail", "0x7801"}));
    EXPECT_EQ(KAVO_ERR_FAIL, dev.synch_ioctl(HCC_IOCTL_HMI_AVAIL_CMD_GET, &map, sizeof(map), 1000));
    EXPECT_EQ(1, cap.count("ioctl 0x00007801 failed (rv=-1)"));
    auto log = sim.log();
    EXPECT_EQ(3, log[1].rv);
}

TEST_F(ChannelFixture, NullRecordReachesTheDriver)
{
    ASSERT_EQ(0, sim.ctl({"set", "chan.ctrl_open", "1"}));
    cKAVO_DEV dev(KAVO_ZYLO_HDC_DEV_PATH);
    uint64_t since = sim.last_seq();
    EXPECT_EQ(0, dev.synch_ioctl(HDC_IOCTL_KMP_HDC_OPEN, nullptr, 0, 5000));
    auto log = sim.log(since);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("0x7900", log[0].code);
    EXPECT_EQ("hdc", log[0].node);
    EXPECT_TRUE(log[0].req.empty());
}

} // namespace
