// The job runner: one step on the line at a time, its answer checked.
#include "link/camera_job.h"

#include <algorithm>
#include <utility>

namespace zp {

TJobStep QueryStep(const TPageDef& page, uint8_t item, uint8_t arg, int form, int expectArg) {
    TJobStep step;
    step.Payload = {kQuery, page.Group, item, arg};
    step.Form = form;
    step.Arg = expectArg;
    step.What = "read " + std::string(page.Caption);
    step.Page = &page;
    return step;
}

TCameraJob::TCameraJob(TCameraLink& link) : link_(link) {
    link_.AddObserver(this);
}

TCameraJob::~TCameraJob() {
    link_.RemoveObserver(this);
}

void TCameraJob::Start(std::vector<TJobStep> steps) {
    steps_ = std::move(steps);
    replies_.clear();
    error_.clear();
    finished_ = false;
    cancelAsked_ = false;
    running_ = true;
    if (steps_.empty()) {
        Finish({});
        return;
    }
    SendCurrent();
}

void TCameraJob::SendCurrent() {
    const TJobStep& step = steps_[replies_.size()];
    TCommandFrame& frame = link_.Vars().CommandFrame;
    const size_t n = std::min<size_t>(step.Payload.size(), 15);
    std::copy_n(step.Payload.begin(), n, frame.begin() + 1);
    // A write that fails is reported to the observers, and so ends the job.
    link_.TrySendFrame(static_cast<int32_t>(n));
}

bool TCameraJob::Answers(const TJobStep& step, const TReplyBytes& r) const {
    if (step.AnyGroup) {
        return true;
    }
    if (r[1] != kDataReply || step.Payload.size() < 2 || r[2] != step.Payload[1]) {
        return false;
    }
    return (step.Form == kAnyForm || r[3] == step.Form) && (step.Arg < 0 || r[4] == step.Arg);
}

bool TCameraJob::TakeReply() {
    if (!running_ || replies_.size() >= steps_.size()) {
        return false;
    }
    const TJobStep& step = steps_[replies_.size()];
    const bool read = !step.Payload.empty() && step.Payload[0] == kQuery;
    if (!fresh_) {
        // A second ACK ended the exchange, and the parser still holds the
        // last reply: a read goes out again, a command was taken.
        if (read || step.AnyGroup) {
            return false;
        }
        replies_.push_back(TReplyBytes{});
    } else if (!Answers(step, link_.Vars().Parser.ReplyFrame)) {
        return false;
    } else {
        replies_.push_back(link_.Vars().Parser.ReplyFrame);
    }
    link_.ReleaseLink();
    if (OnProgress) {
        OnProgress();
    }
    if (cancelAsked_) {
        Finish({});
    } else if (replies_.size() == steps_.size()) {
        Finish({});
    } else {
        SendCurrent();
    }
    return true;
}

void TCameraJob::Resend() {
    if (running_ && !cancelAsked_ && link_.CanSend()) {
        SendCurrent();
    }
}

void TCameraJob::Cancel() {
    if (!running_) {
        return;
    }
    cancelAsked_ = true;
    if (link_.Idle()) {
        Finish({});
    }
}

void TCameraJob::OnTraffic(const TTrafficEvent& e) {
    if (!running_) {
        return;
    }
    const std::string at = replies_.size() < steps_.size() ? steps_[replies_.size()].What : "";
    switch (e.kind) {
        case TTrafficKind::Reply:
            fresh_ = true;
            break;
        case TTrafficKind::Frame:
        case TTrafficKind::Resend:
            if (e.direction == TDirection::ToCamera && e.bytes.size() > 1) {
                fresh_ = false;
            }
            break;
        case TTrafficKind::GiveUp:
        case TTrafficKind::WriteFailed:
            Finish(e.note + " (" + at + ")");
            break;
        case TTrafficKind::LineLost:
            Finish("the line to the camera was lost (" + at + ")");
            break;
        default:
            break;
    }
}

void TCameraJob::Finish(std::string error) {
    if (!running_) {
        return;
    }
    running_ = false;
    finished_ = true;
    error_ = std::move(error);
    if (OnFinished) {
        OnFinished();
    }
}

}  // namespace zp
