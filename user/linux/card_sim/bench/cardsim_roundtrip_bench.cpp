/*
 * One request round trip through the device library and the simulator: the
 * floor under every later latency figure of the programs. The session link
 * read is what the heartbeat sends once a second; the cursor position is
 * what the agent sends when the pointer moves.
 */
#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "cardsim_client.h"
#include "kavo_zylo_apdu.h"

static cardsim::Sim *g_sim;

static void BM_SessLinkRead(benchmark::State &state)
{
    int fd = open(KAVO_ZYLO_HCC_DEV_PATH, O_RDWR);
    sKAVO_ZYLO_HCC_APDU_HMI_VAR v;
    for (auto _ : state) {
        memset(&v, 0, sizeof(v));
        v.var = KAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK;
        if (ioctl(fd, HCC_IOCTL_HMI_VAR_GET, &v) != 0)
            state.SkipWithError("request failed");
        benchmark::DoNotOptimize(v);
    }
    close(fd);
}
BENCHMARK(BM_SessLinkRead)->UseRealTime();

static void BM_CursorPositionIfNew(benchmark::State &state)
{
    g_sim->ctl({"session", "up"});
    g_sim->ctl({"set", "chan.hdc_open", "1"});
    int fd = open(KAVO_ZYLO_HDC_DEV_PATH, O_RDWR);
    sKAVO_ZYLO_HDC_APDU_KMP_CUR_POS_IF_NEW p = {0, 0};
    for (auto _ : state) {
        p.abs_x++;
        if (ioctl(fd, HDC_IOCTL_KMP_CUR_POS_IF_NEW, &p) != 0)
            state.SkipWithError("request failed");
    }
    close(fd);
}
BENCHMARK(BM_CursorPositionIfNew)->UseRealTime();

int main(int argc, char **argv)
{
    cardsim::Sim sim;
    if (!sim.ok()) {
        fprintf(stderr, "%s\n", sim.error().c_str());
        return 1;
    }
    g_sim = &sim;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
