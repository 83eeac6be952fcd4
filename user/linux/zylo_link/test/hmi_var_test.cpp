/* HMI variable operations: bytes, arguments, availability, failures. */
#include <string.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "capture.h"
#include "cardsim_client.h"
#include "kavo_zylo_link.h"

namespace {

struct HmiFixture : ::testing::Test {
    cardsim::Sim sim;
    LogCapture cap;
    void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error(); }
};

/* One variable read: its number, record size, operation and failure line. */
struct VarRead {
    const char *what;
    UINT32 var;
    size_t size;
    std::function<INT32(cKAVO_ZYLO_LINK &, void *)> op;
    const char *fail_line;
};

const VarRead kReads[] = {
    {"link_info", 1, 32,
     [](cKAVO_ZYLO_LINK &l, void *r) { return l.link_info_get((sKAVO_ZYLO_HCC_APDU_HMI_VAR_LINK_INFO *)r); },
     "HCC_IOCTL_HMI_VAR_GET ioctl failed (ret=-500)"},
    {"ipv4_cfg", 2, 84,
     [](cKAVO_ZYLO_LINK &l, void *r) { return l.ipv4_cfg_get((sKAVO_ZYLO_HCC_APDU_HMI_VAR_IPV4_CFG *)r); },
     "KAVO_ZYLO_HCC_IOCTL_HMI_VAR_GET ioctl failed -500"},
    {"sess_link", 3, 40,
     [](cKAVO_ZYLO_LINK &l, void *r) { return l.sess_link_get((sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK *)r); },
     "KAVO_ZYLO_HCC_IOCTL_HMI_VAR_GET ioctl failed -500"},
    {"sess_stat", 6, 100,
     [](cKAVO_ZYLO_LINK &l, void *r) { return l.sess_stat_get((sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_STAT *)r); },
     "HCC_IOCTL_HMI_VAR_GET ioctl failed (ret=-500)"},
};

TEST_F(HmiFixture, VariableReads)
{
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    for (const VarRead &r : kReads) {
        SCOPED_TRACE(r.what);
        cKAVO_ZYLO_LINK link;
        unsigned char rec[256];

        /* success copies exactly the record's bytes from the reply's data */
        memset(rec, 0xEE, sizeof(rec));
        uint64_t since = sim.last_seq();
        ASSERT_EQ(0, r.op(link, rec));
        auto log = sim.log(since);
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ("0x7802", log[0].code);
        EXPECT_EQ(r.var, cardsim::le32(log[0].req, 0));
        for (size_t i = 4; i < 252; i++)
            ASSERT_EQ(0, log[0].req[i]) << "request data not zero at " << i;
        if (r.var != 6) { /* statistics move with time between two reads */
            EXPECT_EQ(0, memcmp(rec, log[0].rsp.data() + 4, r.size));
        }
        EXPECT_EQ(0xEE, rec[r.size]);

        /* null record */
        EXPECT_EQ(KAVO_ERR_INVALID_ARG, r.op(link, nullptr));

        /* driver failure: the status, the operation's line, the record untouched */
        memset(rec, 0xEE, sizeof(rec));
        ASSERT_EQ(0, sim.ctl({"fail", "0x7802"}));
        EXPECT_EQ(KAVO_ERR_FAIL, r.op(link, rec));
        EXPECT_GE(cap.count(r.fail_line), 1);
        EXPECT_EQ(0xEE, rec[0]);

        /* not offered: -511 without a request */
        std::string off = std::to_string(0x284F & ~(1u << r.var));
        ASSERT_EQ(0, sim.ctl({"set", "hmi.get_map", off}));
        cKAVO_ZYLO_LINK without;
        since = sim.last_seq();
        EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, r.op(without, rec));
        EXPECT_TRUE(sim.log(since).empty());
        ASSERT_EQ(0, sim.ctl({"set", "hmi.get_map", "0x284F"}));
    }
}

TEST_F(HmiFixture, DisconnectWithCauseFallbackAndNeither)
{
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    {
        cKAVO_ZYLO_LINK link;
        uint64_t since = sim.last_seq();
        EXPECT_EQ(0, link.sess_link_disc(KAVO_DISCONNECT_CAUSE_HOST_DRIVER_MANUAL_USER_DISCONNECT));
        auto log = sim.log(since);
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ("0x7803", log[0].code);
        EXPECT_EQ(9u, cardsim::le32(log[0].req, 0));
        EXPECT_EQ(512u, cardsim::le32(log[0].req, 4));
        EXPECT_EQ(1, cap.count("disconnected session link by setting SESS_DISC"));
    }
    ASSERT_EQ(0, sim.ctl({"session", "up"}));
    {
        /* the cause is rejected: the session link way still ends the session */
        cKAVO_ZYLO_LINK link;
        ASSERT_EQ(0, sim.ctl({"fail", "0x7803"}));
        uint64_t since = sim.last_seq();
        EXPECT_EQ(0, link.sess_link_disc(513));
        auto log = sim.log(since);
        ASSERT_EQ(2u, log.size());
        EXPECT_EQ(9u, cardsim::le32(log[0].req, 0));
        EXPECT_EQ(3u, cardsim::le32(log[1].req, 0));
        for (size_t i = 4; i < 252; i++)
            ASSERT_EQ(0, log[1].req[i]);
        EXPECT_EQ(1, cap.count("HCC_IOCTL_HMI_VAR_SET ioctl failed -500"));
        EXPECT_EQ(1, cap.count("disconnected session link by setting SESS_LINK"));
        std::string state;
        sim.ctl({"state"}, &state);
        EXPECT_NE(std::string::npos, state.find("\"session.up\":false"));
    }
    {
        ASSERT_EQ(0, sim.ctl({"set", "hmi.set_map", "0"}));
        cKAVO_ZYLO_LINK link;
        int before = cap.count("not supported");
        uint64_t since = sim.last_seq();
        EXPECT_EQ(KAVO_ERR_NOT_SUPPORTED, link.sess_link_disc(512));
        EXPECT_EQ(before + 1, cap.count("not supported"));
        EXPECT_TRUE(sim.log(since).empty());
    }
}

TEST_F(HmiFixture, StatisticsResetAndLocalInfo)
{
    cKAVO_ZYLO_LINK link;
    uint64_t since = sim.last_seq();
    EXPECT_EQ(0, link.sess_stat_reset());
    UINT32 dev_type = 99;
    EXPECT_EQ(0, link.local_info_get(&dev_type));
    EXPECT_EQ(1u, dev_type);
    EXPECT_EQ(KAVO_ERR_INVALID_ARG, link.local_info_get(nullptr));
    auto log = sim.log(since);
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("0x7803", log[0].code);
    EXPECT_EQ(6u, cardsim::le32(log[0].req, 0));
    EXPECT_EQ("0x7804", log[1].code);
    ASSERT_EQ(8u, log[1].req.size());
    EXPECT_EQ(1u, cardsim::le32(log[1].req, 0));

    ASSERT_EQ(0, sim.ctl({"fail", "0x7804"}));
    EXPECT_EQ(KAVO_ERR_FAIL, link.local_info_get(&dev_type));
    EXPECT_EQ(1, cap.count("HCC_IOCTL_HMI_LOCAL_VAR_GET ioctl failed (ret=-500)"));
}

} // namespace
