// A run of exchanges done for one purpose (reading pages, a backup, a
// restore): sent one at a time over the link, each answer checked and kept.
// The window and zoomctl route the link's replies here while a job runs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/camera_link.h"
#include "link/catalogue.h"

namespace zp {

using TReplyBytes = std::array<uint8_t, kReplyStored>;

// One exchange: the frame's payload bytes 1 ... n and what its answer must be.
struct TJobStep {
    std::vector<uint8_t> Payload;
    int Form = kAnyForm;    // reply byte 3 of the answer, or any
    int Arg = -1;           // reply byte 4 of the answer, -1 for any
    bool AnyGroup = false;  // any answer will do (a raw frame)
    // For the log, progress and errors: "read Col", "alc.alc := FIX".
    std::string What;
    // The page or the memory (-1 when none) the step reads or sets.
    const TPageDef* Page = nullptr;
    int Memory = -1;
};

// The payload of a page's own query (page pattern), and the title's and a
// memory's reads.
TJobStep QueryStep(const TPageDef& page, uint8_t item = 0, uint8_t arg = 0, int form = kAnyForm,
                   int expectArg = -1);

class TCameraJob : private ITrafficObserver {
  public:
    explicit TCameraJob(TCameraLink& link);
    ~TCameraJob() override;
    TCameraJob(const TCameraJob&) = delete;
    TCameraJob& operator=(const TCameraJob&) = delete;

    // Begins with the first step; the link must be free.
    void Start(std::vector<TJobStep> steps);
    // The link has a reply for whoever asked: true when it answers the step
    // on its way, which is then done. Another reply is left to the link,
    // which sends the step again after its time-out.
    bool TakeReply();
    // The link was checked again (after a malformed answer or a new line):
    // the step on its way is sent again.
    void Resend();
    // Stops after the exchange on its way, if any.
    void Cancel();

    bool Running() const { return running_; }
    // Asked to stop, and ended (a fault on the way may say more).
    bool Cancelled() const { return finished_ && cancelAsked_; }
    bool Succeeded() const { return finished_ && !cancelAsked_ && error_.empty(); }
    size_t Done() const { return replies_.size(); }
    size_t Total() const { return steps_.size(); }
    const std::vector<TJobStep>& Steps() const { return steps_; }
    // The answers, one per step done, in order.
    const std::vector<TReplyBytes>& Replies() const { return replies_; }
    // Why the job stopped before its end; empty when it did not.
    const std::string& Error() const { return error_; }

    // After each step that was answered, and once at the end (done, failed
    // or cancelled). Neither may destroy the job.
    std::function<void()> OnProgress;
    std::function<void()> OnFinished;

  private:
    void OnTraffic(const TTrafficEvent& e) override;
    void SendCurrent();
    void Finish(std::string error);
    bool Answers(const TJobStep& step, const TReplyBytes& reply) const;

    TCameraLink& link_;
    std::vector<TJobStep> steps_;
    std::vector<TReplyBytes> replies_;
    std::string error_;
    bool running_ = false;
    bool finished_ = false;
    bool cancelAsked_ = false;
    // A reply frame came since the step last went out.
    bool fresh_ = false;
};

}  // namespace zp
