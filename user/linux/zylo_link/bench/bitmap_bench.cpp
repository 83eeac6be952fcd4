/*
 * Cursor bitmap costs, each beside its floor:
 *  - flip_bitmap of a 64x64 COLOR bitmap with a 32-bit XOR image vs memcpy of
 *    the same bytes;
 *  - a cache hit of a 64x64 ALPHA shape with all 16 slots full of same-size
 *    shapes: the lookup alone (is_bitmap_cached, the hit in the last slot)
 *    vs one memcmp of 16 KiB, and the whole lcur_shape_bmp_send with its
 *    shape-select round trip to the simulator.
 * The link cases need the simulator's client; without it only the floors
 * are built.
 */
#include <benchmark/benchmark.h>

#include <string>
#include <string.h>

#include <vector>

#if __has_include("cardsim_client.h")
#define BITMAP_BENCH_LINK 1
#include "cardsim_client.h"
#endif
#include "kavo_log.h"
#include "kavo_zylo_link.h"

namespace {

const UINT32 kAlw = 8, kXlw = 256, kH = 64;
const UINT32 kColorLen = (kAlw + kXlw) * kH;
const UINT32 kAlphaLen = 64 * 64 * 4;

#ifdef BITMAP_BENCH_LINK
void BM_flip_bitmap_color32(benchmark::State &st)
{
    cKAVO_ZYLO_LINK link;
    std::vector<UINT8> src(kColorLen, 0x5A), dst(kColorLen);
    memset(src.data(), 0, kAlw * kH); /* AND rows clear ...                    */
    src[0] = 0x80;                    /* ... but one transparent pixel: both masks go out */
    for (auto _ : st) {
        INT32 is_alpha = 0;
        benchmark::DoNotOptimize(
            link.flip_bitmap(64, 64, 32, kColorLen, src.data(), dst.data(), &is_alpha));
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * kColorLen);
}
BENCHMARK(BM_flip_bitmap_color32);

#endif

void BM_floor_memcpy_color32(benchmark::State &st)
{
    std::vector<UINT8> src(kColorLen, 0x5A), dst(kColorLen);
    for (auto _ : st) {
        memcpy(dst.data(), src.data(), kColorLen);
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * kColorLen);
}
BENCHMARK(BM_floor_memcpy_color32);

void BM_floor_memcmp_16k(benchmark::State &st)
{
    std::vector<UINT8> a(kAlphaLen, 1), b(kAlphaLen, 1);
    for (auto _ : st) {
        benchmark::DoNotOptimize(memcmp(a.data(), b.data(), kAlphaLen));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_floor_memcmp_16k);

#ifdef BITMAP_BENCH_LINK
/* A link with a 16-slot cache filled with distinct 64x64 shapes that differ
 * only in their last byte, so each probe compares nearly all of them. */
struct Filled {
    cardsim::Sim sim;
    cKAVO_ZYLO_LINK link;
    std::vector<UINT8> shape;
    bool ok = false;

    Filled() : shape(kAlphaLen, 1)
    {
        INT chg = 0;
        sKAVO_ZYLO_HCC_APDU_HMI_VAR_SESS_LINK sl;
        m_log_level = 0;
        /* the heartbeat's kept count is process-wide: start each simulator elsewhere */
        static unsigned s_cnt;
        s_cnt = (s_cnt + 16) & 0xF0;
        if (!sim.ok() || link.start() ||
            sim.ctl({"set", "sess.transition_cnt", std::to_string(s_cnt)}) || sim.ctl({"set", "ctxt.cur_shape_caches", "16"}) ||
            sim.ctl({"set", "ctxt.cur_shape_cache_size", "16384"}) ||
            sim.ctl({"session", "up", "--client", "zc"}))
            return;
        link.link_heartbeat(&chg, &sl);
        if (link.hdc_open())
            return;
        for (int i = 0; i < 16; i++) {
            shape[kAlphaLen - 1] = (UINT8)i;
            if (link.lcur_shape_bmp_send(0, 0, 64, 64, 0, 0, shape.data(), kAlphaLen,
                                         KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA))
                return;
        }
        ok = link.bmp_cache().max_num_bmps == 16;
    }
};

void BM_cache_hit_lookup_only(benchmark::State &st)
{
    Filled f;
    if (!f.ok) {
        st.SkipWithError("simulator not available");
        return;
    }
    /* the shape in the slot searched last */
    f.shape[kAlphaLen - 1] = f.link.bmp_cache().bmp[15].bmp[kAlphaLen - 1];
    for (auto _ : st) {
        UINT8 idx = 0;
        benchmark::DoNotOptimize(f.link.is_bitmap_cached(0, 0, 64, 64, 0, 0, f.shape.data(),
                                                         kAlphaLen,
                                                         KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA,
                                                         &idx));
    }
}
BENCHMARK(BM_cache_hit_lookup_only);

void BM_cache_hit_send_with_select(benchmark::State &st)
{
    Filled f;
    if (!f.ok) {
        st.SkipWithError("simulator not available");
        return;
    }
    f.shape[kAlphaLen - 1] = f.link.bmp_cache().bmp[15].bmp[kAlphaLen - 1];
    for (auto _ : st)
        benchmark::DoNotOptimize(f.link.lcur_shape_bmp_send(
            0, 0, 64, 64, 0, 0, f.shape.data(), kAlphaLen, KAVO_ZYLO_LINK_KMP_CUR_BITMAP_ALPHA));
}
BENCHMARK(BM_cache_hit_send_with_select);

void BM_select_round_trip_only(benchmark::State &st)
{
    Filled f;
    if (!f.ok) {
        st.SkipWithError("simulator not available");
        return;
    }
    for (auto _ : st)
        benchmark::DoNotOptimize(f.link.lcur_change_shape_send(15));
}
BENCHMARK(BM_select_round_trip_only);

#endif

} // namespace

BENCHMARK_MAIN();
