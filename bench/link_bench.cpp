// Hot paths of the camera link: parsing received bytes, and completing,
// sending and echoing a frame.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "link/camera_link.h"
#include "link/reply_parser.h"
#include "tests/support/link_fakes.h"

namespace {

// What the line carries in practice: mostly ACK + reply pairs, some NAKs
// and now and then garbage.
std::vector<uint8_t> TrafficMix(size_t bytes) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(0, 255);
    std::vector<uint8_t> out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        const int pick = any(rng) % 20;
        if (pick == 0) {
            out.push_back(zp::kNAK);
        } else if (pick == 1) {
            for (int i = 0; i < 7; ++i) {
                out.push_back(static_cast<uint8_t>(any(rng)));
            }
        } else {
            out.push_back(zp::kACK);
            out.push_back(zp::kSTX);
            for (int i = 1; i <= 15; ++i) {
                out.push_back(static_cast<uint8_t>(any(rng)));
            }
            out.push_back(zp::kETX);
            out.push_back(static_cast<uint8_t>(any(rng)));
        }
    }
    return out;
}

void BM_FeedReplyByte(benchmark::State& state) {
    const std::vector<uint8_t> bytes = TrafficMix(1 << 16);
    zp::TReplyParser p;
    for (auto _ : state) {
        int32_t acc = 0;
        for (uint8_t b : bytes) {
            const zp::TReplyResult r = p.FeedReplyByte(b);
            acc += static_cast<int32_t>(r.kind) + r.byte;
            if (r.kind == zp::TReplyKind::Complete || r.kind == zp::TReplyKind::Malformed) {
                p.Reset();  // as the receive dispatch does
            }
        }
        benchmark::DoNotOptimize(acc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_FeedReplyByte);

void BM_SendFrame(benchmark::State& state) {
    zp::test::NullPort port;
    zp::test::NullWindow window;
    zp::TCameraLink link(port, window, [](int) {});
    for (auto _ : state) {
        link.ReleaseLink();
        auto& f = link.Vars().CommandFrame;
        f[1] = 0x21;
        f[2] = 0x1B;
        f[3] = 0x02;
        f[4] = static_cast<uint8_t>(state.iterations());
        link.SendFrame(4);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SendFrame);

}  // namespace

BENCHMARK_MAIN();
