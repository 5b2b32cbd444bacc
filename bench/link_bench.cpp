// Hot paths of the camera link: parsing received bytes, and completing,
// sending and echoing a frame.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "link/backup.h"
#include "link/camera_job.h"
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

// An observer that keeps every event, as the traffic view does.
struct TKeeper : zp::ITrafficObserver {
    void OnTraffic(const zp::TTrafficEvent& e) override {
        if (kept.size() == 4096) {
            kept.clear();
        }
        kept.push_back(e);
    }
    std::vector<zp::TTrafficEvent> kept;
};

// One whole exchange (frame, ACK, reply, the link's ACK: four events), with
// and without an observer that keeps them: the difference over four is what
// recording costs the link per event.
void BM_Exchange(benchmark::State& state) {
    zp::test::NullPort port;
    zp::test::NullWindow window;
    zp::TCameraLink link(port, window, [](int) {});
    TKeeper keeper;
    if (state.range(0) != 0) {
        link.AddObserver(&keeper);
    }
    zp::TLinkTestAccess::SetLinkState(link, zp::TLinkState::Ready);
    const std::string answer =
        std::string("\x06") + std::string(reinterpret_cast<const char*>(
                                              zp::test::Sealed({0xA0, 0x1B, 0x00, 0x00, 2}).data()),
                                          zp::kFrameSize);
    for (auto _ : state) {
        link.ReleaseLink();
        auto& f = link.Vars().CommandFrame;
        f[1] = 0x31;
        f[2] = 0x1B;
        link.SendFrame(4);
        port.pending = answer;
        link.Comm1RxChar(static_cast<int32_t>(answer.size()));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4);
    state.SetLabel(state.range(0) != 0 ? "observed" : "unobserved");
}
BENCHMARK(BM_Exchange)->Arg(0)->Arg(1);

// The window of a job: replies go to the job, as zoomctl and the File menu
// route them.
struct TJobWindow : zp::test::NullWindow {
    void RouteReplyToPage() override { job->TakeReply(); }
    zp::TCameraJob* job = nullptr;
};

// A whole restore of a camera's configuration (its commands, each answered
// at once), per exchange: what the job adds to the link's own exchange
// (compare BM_Exchange/0, which counts four events an exchange).
void BM_RestoreJob(benchmark::State& state) {
    zp::test::NullPort port;
    TJobWindow window;
    zp::TCameraLink link(port, window, [](int) {});
    zp::TCameraJob job(link);
    window.job = &job;
    zp::TLinkTestAccess::SetLinkState(link, zp::TLinkState::Ready);
    zp::TCameraConfig config;
    std::string error;
    // Every page as a factory camera answers; the values are what counts.
    std::vector<zp::TJobStep> reads = zp::ReadSteps({}, 1, 64);
    std::vector<zp::TReplyBytes> replies;
    for (const zp::TJobStep& step : reads) {
        zp::TReplyBytes r{};
        r[0] = zp::kSTX;
        r[1] = zp::kDataReply;
        r[2] = step.Payload[1];
        r[3] = static_cast<uint8_t>(step.Form == zp::kAnyForm ? step.Payload[2] : step.Form);
        r[4] = step.Payload[3];
        r[16] = zp::kETX;
        replies.push_back(r);
    }
    const std::vector<zp::TJobStep> steps = zp::RestoreSteps(zp::ConfigFromReplies(reads, replies));
    size_t exchanges = 0;
    for (auto _ : state) {
        job.Start(steps);
        while (job.Running()) {
            const auto& f = link.Vars().CommandFrame;
            const zp::test::Bytes reply = zp::test::Sealed({0xA0, f[2], f[3], f[4]});
            port.pending = std::string("\x06") +
                           std::string(reinterpret_cast<const char*>(reply.data()), reply.size());
            link.Comm1RxChar(static_cast<int32_t>(port.pending.size()));
        }
        exchanges += job.Done();
    }
    state.SetItemsProcessed(static_cast<int64_t>(exchanges));
    state.SetLabel(std::to_string(steps.size()) + " exchanges a restore");
}
BENCHMARK(BM_RestoreJob);

}  // namespace

BENCHMARK_MAIN();
