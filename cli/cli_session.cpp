// zoomctl's link to the camera and the loop that drives it.
#include "cli/cli_session.h"

#include <algorithm>

#include "serial/platform/port_device.h"

namespace zp {

std::atomic<bool> gInterrupted{false};

namespace {
// Longer than the link's three sends of one exchange and their time-outs: a
// loop that hears nothing for this long gives up on its own.
constexpr auto kQuietLimit = std::chrono::seconds(15);
// Longer than a network device's connect and negotiation limits together.
constexpr auto kConnectWait = std::chrono::seconds(9);
}  // namespace

TCliSession::TCliSession(TPause pause)
    : queue_(std::make_shared<TMainThreadQueue>()),
      link_(*this, *this, std::move(pause)),
      job_(link_) {
    InstallMainThread(queue_);
    comm_.SetName("Comm1");
    comm_.SetBaudrate(br9600);
    TVaFlowControl off;  // every member off or disabled
    comm_.SetFlowControl(off);
    TVaBuffers buffers;
    buffers.SetReadSize(1024);
    buffers.SetWriteSize(1024);
    comm_.SetBuffers(buffers);
    comm_.OnRxChar = [this](TVaComponent*, int32_t count) { link_.Comm1RxChar(count); };
    comm_.OnError = [this](TVaComponent*, uint32_t errors) {
        if ((errors & CE_HANGUP) != 0 && !lost_) {
            lost_ = true;
            link_.PortLost();
        }
    };
}

TCliSession::~TCliSession() {
    try {
        if (comm_.IsOpen()) {
            comm_.Close();
        }
    } catch (const std::exception&) {
        // Closing a line that is gone has nothing left to tell.
    }
    InstallMainThread(nullptr);
    queue_->Shut();
}

std::string TCliSession::DeviceText() {
    return DevicePath(comm_.DeviceText());
}

void TCliSession::SetStatusText(int panel, const std::string& text) {
    if (panel == kPanelLink) {
        linkText_ = text;
    }
}

void TCliSession::QueryActivePage() {
    // The link is confirmed; after a re-check the job's step goes again.
    confirmed_ = true;
    job_.Resend();
}

void TCliSession::RouteReplyToPage() {
    job_.TakeReply();
}

void TCliSession::StartReplyTimer(int milliseconds) {
    replyDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

void TCliSession::ReportError(const std::string& text) {
    lastError_ = text;
}

bool TCliSession::Loop(const std::function<bool()>& done) {
    auto heard = std::chrono::steady_clock::now();
    size_t seen = job_.Done();
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (job_.Done() != seen) {
            seen = job_.Done();
            heard = now;
        }
        if (now - heard > kQuietLimit) {
            return false;
        }
        if (gInterrupted && job_.Running()) {
            job_.Cancel();
        }
        if (replyDeadline_ && now >= *replyDeadline_) {
            replyDeadline_.reset();
            link_.ReplyTimeout();
            continue;
        }
        auto wait = std::chrono::milliseconds(100);
        if (replyDeadline_) {
            wait = std::min(
                wait, std::chrono::duration_cast<std::chrono::milliseconds>(*replyDeadline_ - now) +
                          std::chrono::milliseconds(1));
        }
        if (queue_->WaitForCall(static_cast<uint32_t>(std::max<int64_t>(wait.count(), 0)))) {
            queue_->RunPending();
        }
    }
    return true;
}

bool TCliSession::Connect(const std::string& device, std::string& error) {
    comm_.SetDeviceName(device);
    try {
        link_.OpenCameraPort(1, 9600);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    // A network device connects in its own time (the connect and negotiation
    // limits, and the name lookup): the link check's time-outs count from
    // a line the camera can hear, and a failure to connect is told as such.
    const auto end = std::chrono::steady_clock::now() + kConnectWait;
    Loop([&] {
        return !comm_.Connecting() || lost_ || gInterrupted ||
               std::chrono::steady_clock::now() > end;
    });
    bool heard = true;
    if (!comm_.Connecting() && !lost_ && !gInterrupted) {
        link_.CheckLink();
        // The link check ends in a confirmation, a give-up or a lost line.
        heard = Loop([&] { return confirmed_ || lost_ || link_.Idle() || gInterrupted; });
        if (confirmed_) {
            return true;
        }
    }
    const std::string lostReason = comm_.LostReason();
    error = gInterrupted          ? "interrupted"
            : !lostReason.empty() ? lostReason
            : lost_               ? "the line to the camera was lost"
            : comm_.Connecting()
                ? "no connection to the server in " + std::to_string(kConnectWait.count()) + " s"
            : !heard              ? "the camera does not answer"
            : !lastError_.empty() ? lastError_
                                  : linkText_;
    return false;
}

bool TCliSession::Run(std::vector<TJobStep> steps, std::vector<TReplyBytes>& replies,
                      std::string& error, const std::function<void(const TCameraJob&)>& progress) {
    job_.OnProgress = [&] {
        if (progress) {
            progress(job_);
        }
    };
    job_.Start(std::move(steps));
    const bool heard = Loop([&] { return !job_.Running(); });
    job_.OnProgress = nullptr;
    replies = job_.Replies();
    if (!heard) {
        job_.Cancel();
        error = "the camera stopped answering after " + std::to_string(job_.Done()) + " of " +
                std::to_string(job_.Total()) + " exchanges";
        return false;
    }
    if (job_.Cancelled()) {
        error = "interrupted after " + std::to_string(job_.Done()) + " of " +
                std::to_string(job_.Total()) + " exchanges";
        return false;
    }
    error = job_.Error();
    if (!job_.Succeeded() && lost_ && !comm_.LostReason().empty()) {
        error += ": " + comm_.LostReason();
    }
    return job_.Succeeded();
}

}  // namespace zp
