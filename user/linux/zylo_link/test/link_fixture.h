/*
 * A private simulator and a started link object for one test, with helpers
 * to bring a client's session up or down and to pick requests from the log.
 */
#ifndef ZYLO_LINK_TEST_LINK_FIXTURE_H
#define ZYLO_LINK_TEST_LINK_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim_client.h"
#include "kavo_zylo_link.h"

struct LinkFixture : ::testing::Test {
    cardsim::Sim sim;
    cKAVO_ZYLO_LINK link;

    void SetUp() override
    {
        ASSERT_TRUE(sim.ok()) << sim.error();
        ASSERT_EQ(0, link.start());
        /* The heartbeat keeps the last transition count for the whole
         * process: start each simulator's count elsewhere so that every
         * test's first session up is seen as a change. */
        static unsigned s_cnt;
        s_cnt = (s_cnt + 16) & 0xF0;
        ASSERT_EQ(0, sim.ctl({"set", "sess.transition_cnt", std::to_string(s_cnt)}));
    }

    /* "up" or "down"; after "up" the link holds the client's context and the
     * cursor channel is open, as at the start of a session. */
    void session(const char *updown, const char *client = "zc")
    {
        INT chg = 0;
        sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sl;
        ASSERT_EQ(0, sim.ctl({"session", updown, "--client", client}));
        link.link_heartbeat(&chg, &sl);
        if (std::string(updown) == "up") {
            ASSERT_TRUE(link.kmp_pri_ctxt_valid());
            ASSERT_EQ(0, link.hdc_open());
        }
    }

    std::vector<cardsim::LogEntry> sends(const char *code, uint64_t since)
    {
        std::vector<cardsim::LogEntry> out;
        for (auto &e : sim.log(since))
            if (e.code == code)
                out.push_back(e);
        return out;
    }

    int count(const char *code, uint64_t since) { return (int)sends(code, since).size(); }
};

#endif
