// The camera link: sending, receiving, the link states, time-outs and follow-ups.
#include "link/camera_link.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "link/func.h"

namespace zp {

namespace {
// What the camera may take to act on a frame before its ACK and reply.
constexpr int kCameraAllowanceMs = 900;
// The frame, the camera's ACK and its reply, ten bits a byte on the line.
constexpr int kExchangeBits = (kFrameSize + 1 + kFrameSize) * 10;
}  // namespace

void CompleteFrame(TCommandFrame& frame, int32_t payloadLength) {
    frame[0] = kSTX;
    for (int i = 1; i <= 15; ++i) {
        if (i > payloadLength) {
            frame[static_cast<size_t>(i)] = 0;
        }
    }
    frame[16] = kETX;
    uint8_t sum = 0;
    for (int i = 0; i <= 16; ++i) {
        sum = static_cast<uint8_t>(sum + frame[static_cast<size_t>(i)]);
    }
    frame[17] = static_cast<uint8_t>(0 - sum);
}

std::string ConnectedText(int32_t port) {
    return "Comm" + std::to_string(port) + ". Connected";
}

int ReplyTimeoutMs(int32_t baud) {
    const int64_t rate = std::max<int64_t>(baud, 50);
    return kCameraAllowanceMs + static_cast<int>((kExchangeBits * 1000 + rate - 1) / rate);
}

TCameraLink::TCameraLink(ILinkPort& port, ILinkWindow& window, TPause pause)
    : port_(port), window_(window), pause_(std::move(pause)) {}

template <typename TWrite>
bool TCameraLink::Guarded(TWrite&& write) {
    try {
        write();
        return true;
    } catch (const std::exception& e) {
        SendFailed(e.what());
    } catch (...) {
        SendFailed("Unknown exception");
    }
    return false;
}

bool TCameraLink::Transmit(const uint8_t* bytes, int32_t count, bool resend) {
    if (!Guarded([&] { port_.TransmitData(bytes, count); })) {
        return false;
    }
    Report(resend ? TTrafficKind::Resend : TTrafficKind::Frame, TDirection::ToCamera,
           {bytes, bytes + count}, resend ? retries_ : 0);
    return true;
}

bool TCameraLink::TransmitControl(uint8_t b, bool resend) {
    if (!Guarded([&] { port_.TransmitByte(b); })) {
        return false;
    }
    Report(resend ? TTrafficKind::Resend : TTrafficKind::Control, TDirection::ToCamera, {b},
           resend ? retries_ : 0);
    return true;
}

void TCameraLink::AddObserver(ITrafficObserver* observer) {
    observers_.push_back(observer);
}

void TCameraLink::RemoveObserver(ITrafficObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TCameraLink::Report(TTrafficKind kind, TDirection direction, std::vector<uint8_t> bytes,
                         int count, std::string note) {
    if (observers_.empty()) {
        return;
    }
    TTrafficEvent e;
    e.at = std::chrono::steady_clock::now();
    e.wall = std::chrono::system_clock::now();
    e.kind = kind;
    e.direction = direction;
    e.bytes = std::move(bytes);
    e.count = count;
    e.of = kind == TTrafficKind::Resend ? kReplyRetries : 0;
    e.note = std::move(note);
    // A copy: an observer may remove itself.
    const std::vector<ITrafficObserver*> observers = observers_;
    for (ITrafficObserver* o : observers) {
        o->OnTraffic(e);
    }
}

void TCameraLink::ReportReceived(TReplyResult r) {
    switch (r.kind) {
        case TReplyKind::Nothing:
            return;
        case TReplyKind::Complete:
            Report(TTrafficKind::Reply, TDirection::FromCamera, unit_);
            break;
        case TReplyKind::Malformed:
            Report(TTrafficKind::Malformed, TDirection::FromCamera, unit_);
            break;
        case TReplyKind::Ack:
        case TReplyKind::Nak:
            Report(TTrafficKind::Answer, TDirection::FromCamera, {r.byte});
            break;
        case TReplyKind::Byte:
            Report(TTrafficKind::Discarded, TDirection::FromCamera, {r.byte});
            break;
    }
    unit_.clear();
}

// Nothing went out, so no answer will come: the link is free again, and the
// operator reads why.
void TCameraLink::SendFailed(const char* what) {
    Report(TTrafficKind::WriteFailed, TDirection::Link, {}, 0, what);
    // A follow-up whose resend failed is still owed.
    RequeueFollowUp();
    if (confirmed_) {
        vars_.LinkState = TLinkState::Ready;
    }
    AbandonExchange();
    window_.ReportError(what);
}

void TCameraLink::AbandonExchange() {
    awaiting_ = TAwaiting::Nothing;
    exchangeOpen_ = false;
    retries_ = 0;
    vars_.SendBusy = false;
    vars_.Parser.Reset();
    window_.RestoreCursor();
}

void TCameraLink::ArmTimer(TAwaiting what, bool newExchange) {
    awaiting_ = what;
    exchangeOpen_ = true;
    if (newExchange) {
        retries_ = 0;
    }
    window_.StartReplyTimer(ReplyTimeoutMs(baud_));
}

int32_t TCameraLink::SendFrame(int32_t payloadLength) {
    TrySendFrame(payloadLength);
    return 0;
}

bool TCameraLink::TrySendFrame(int32_t payloadLength) {
    if (vars_.SendBusy) {
        return false;
    }
    vars_.SendBusy = true;
    pause_(kSendPauseMs);
    window_.ShowHourglass();
    TCommandFrame& frame = vars_.CommandFrame;
    CompleteFrame(frame, payloadLength);
    lastFrame_ = frame;
    if (awaiting_ == TAwaiting::Nothing && vars_.LinkState == TLinkState::AwaitingReply) {
        // A late ACK to an exchange already given up: no reply is coming, and
        // the camera's ACK to this frame must not complete that exchange.
        vars_.LinkState = TLinkState::Ready;
    }
    followUpOut_ = false;
    ArmTimer(TAwaiting::Frame, true);
    if (!Transmit(frame.data(), kFrameSize)) {
        return false;
    }
    window_.SetStatusText(kPanelSent, BytesToHex(frame.data() + 1, 14));
    return true;
}

void TCameraLink::OpenCameraPort(int32_t port, int32_t baud) {
    if (port_.IsOpen()) {
        port_.Close();
    }
    port_.SetPortNum(port);
    port_.SetUserBaudrate(baud);
    baud_ = baud;
    // A new line: until the camera answers on it, what waits stays queued;
    // closing the old one dropped what was still in its output queue.
    RequeueFollowUp();
    confirmed_ = false;
    holdFollowUps_ = true;
    port_.Open();
    const std::string text = port_.IsOpen() ? ConnectedText(port) : kTextConnectFail;
    Report(TTrafficKind::LineOpened, TDirection::Link, {}, 0, text);
    window_.SetStatusText(kPanelLink, text);
}

void TCameraLink::CheckLink() {
    SendControlByte(kENQ);
}

int32_t TCameraLink::SendControlByte(uint8_t b) {
    SendControlChecked(b);
    return 0;
}

bool TCameraLink::SendControlChecked(uint8_t b) {
    vars_.Parser.Reset();
    vars_.LinkState = TLinkState::AwaitingLinkAck;
    window_.ShowHourglass();
    vars_.SendBusy = true;
    pause_(kSendPauseMs);
    lastControl_ = b;
    retryShown_ = false;
    ArmTimer(TAwaiting::ControlByte, true);
    return TransmitControl(b);
}

void TCameraLink::Comm1RxChar(int32_t count) {
    const std::string text = port_.ReceivePending();
    if (count <= 0) {
        return;
    }
    // Count was taken before the read: bytes beyond it arrived meanwhile and
    // are the camera's too, so they are parsed rather than dropped.
    for (const char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if (!observers_.empty()) {
            const TParserState before = vars_.Parser.ParserState;
            if (before == TParserState::Hunting || before == TParserState::PassThrough) {
                unit_.clear();
            }
            unit_.push_back(b);
        }
        const TReplyResult r = vars_.Parser.FeedReplyByte(b);
        if (!observers_.empty()) {
            ReportReceived(r);
        }
        Act(r);
    }
}

void TCameraLink::Act(TReplyResult r) {
    if (r.kind == TReplyKind::Nothing) {
        return;
    }
    if (r.kind == TReplyKind::Malformed) {
        vars_.SendBusy = false;
        window_.RestoreCursor();
        vars_.Parser.Reset();
        vars_.LinkState = TLinkState::Unchecked;
        SendControlByte(kACK);
        return;
    }
    const bool ack = r.kind == TReplyKind::Ack;
    switch (vars_.LinkState) {
        case TLinkState::Unchecked:
            if (ack) {
                window_.RestoreCursor();
                vars_.LinkState = TLinkState::Ready;
                window_.EnablePageControl();
                LinkConfirmed();
                DrainFollowUps();
            }
            break;
        case TLinkState::AwaitingLinkAck:
            if (ack) {
                ConfirmLink();
            } else {
                window_.SetStatusText(kPanelLink, kTextRetry);
                retryShown_ = true;
            }
            break;
        case TLinkState::Ready:
            if (ack) {
                vars_.LinkState = TLinkState::AwaitingReply;
                // The camera took the frame; give its reply a full time-out.
                if (awaiting_ == TAwaiting::Frame) {
                    window_.StartReplyTimer(ReplyTimeoutMs(baud_));
                }
            }
            break;
        case TLinkState::AwaitingReply:
            // A second ACK ends the exchange like a reply; a 0x03 handed
            // back after some frame is only a byte.
            if (ack || r.kind == TReplyKind::Complete) {
                CompleteReply();
            }
            break;
    }
}

void TCameraLink::LinkConfirmed() {
    confirmed_ = true;
    holdFollowUps_ = false;
    retryShown_ = false;
}

void TCameraLink::RequeueFollowUp() {
    if (followUpOut_) {
        followUps_.push_front(followUpSent_);
        followUpOut_ = false;
    }
}

void TCameraLink::ConfirmLink() {
    window_.SetStatusText(kPanelLink, kTextLinkOk);
    noAnswerShown_ = false;
    LinkConfirmed();
    // The link check is over: one reset, and the link is ready for what
    // follows it.
    vars_.Parser.Reset();
    vars_.LinkState = TLinkState::Ready;
    vars_.SendBusy = false;
    awaiting_ = TAwaiting::Nothing;
    exchangeOpen_ = false;
    const bool stopsWait = !followUps_.empty();
    if (stopsWait) {
        // A stop that waited for the camera goes out before anything else;
        // the page is read again once the queue is through, one exchange at
        // a time.
        requery_ = true;
    } else {
        window_.QueryActivePage();
        // The query is on its way, yet the operator may go on at once.
        vars_.SendBusy = false;
    }
    window_.RestoreCursor();
    window_.EnablePageControl();
    if (stopsWait) {
        DrainFollowUps();
    }
}

void TCameraLink::CompleteReply() {
    window_.SetStatusText(kPanelReply, BytesToHex(vars_.Parser.ReplyFrame.data() + 1, 15));
    if (noAnswerShown_) {
        window_.SetStatusText(kPanelLink, kTextLinkOk);
        noAnswerShown_ = false;
    }
    // The ACK of a reply expects no answer: the exchange of the frame goes on
    // until the page accepts the reply, so the timer stays with the frame.
    const TAwaiting awaiting = awaiting_;
    const int retries = retries_;
    const bool followUp = followUpOut_;
    if (!SendControlChecked(kACK)) {
        // The reply is not handed on without its ACK; the link stays usable.
        vars_.LinkState = TLinkState::Ready;
        return;
    }
    awaiting_ = awaiting;
    retries_ = retries;
    exchangeOpen_ = false;
    vars_.LinkState = TLinkState::Ready;
    window_.RestoreCursor();
    // The camera answered: what waited for it may go.
    holdFollowUps_ = false;
    window_.RouteReplyToPage();
    if (followUp && vars_.SendBusy && !exchangeOpen_) {
        // A follow-up's reply ends its exchange, whichever page is shown.
        vars_.SendBusy = false;
    }
    followUpOut_ = false;
    DrainFollowUps();
}

void TCameraLink::SendFollowUp(const std::vector<uint8_t>& payload) {
    followUps_.push_back(payload);
    DrainFollowUps();
}

void TCameraLink::DropFollowUps() {
    followUps_.clear();
    followUpOut_ = false;
    requery_ = false;
}

void TCameraLink::DrainFollowUps() {
    // Until the camera is heard a stop would go nowhere: it waits.
    if (vars_.SendBusy || holdFollowUps_) {
        return;
    }
    if (followUps_.empty()) {
        if (requery_) {
            requery_ = false;
            window_.QueryActivePage();
        }
        return;
    }
    const std::vector<uint8_t>& payload = followUps_.front();
    const size_t n = std::min<size_t>(payload.size(), 15);
    std::copy_n(payload.begin(), n, vars_.CommandFrame.begin() + 1);
    // Dropped from the queue only once it has been written.
    if (TrySendFrame(static_cast<int32_t>(n))) {
        followUpSent_ = std::move(followUps_.front());
        followUps_.pop_front();
        followUpOut_ = true;
    }
}

void TCameraLink::PortLost(const std::string& why) {
    Report(TTrafficKind::LineLost, TDirection::Link, {}, 0,
           why.empty() ? "the device went away" : why);
    vars_.LinkState = TLinkState::Unchecked;
    // A stop still in the output queue went with the line.
    RequeueFollowUp();
    requery_ = false;
    confirmed_ = false;
    holdFollowUps_ = true;
    AbandonExchange();
}

void TCameraLink::ReplyTimeout() {
    // The query after a link check leaves the link free for the operator
    // while it is on its way; unanswered, it is sent again all the same.
    const bool queryOnItsWay = exchangeOpen_ && awaiting_ == TAwaiting::Frame;
    if (!vars_.SendBusy && !queryOnItsWay) {
        // A follow-up whose write failed is tried again now.
        if (!followUps_.empty() || requery_) {
            DrainFollowUps();
        }
        return;
    }
    if (awaiting_ == TAwaiting::Nothing) {
        // A late reply to an exchange already given up, that the active page
        // did not take: there is nothing to send again, so free the link.
        AbandonExchange();
        DrainFollowUps();
        return;
    }
    Report(TTrafficKind::Timeout, TDirection::Link, {}, ReplyTimeoutMs(baud_));
    if (retries_ < kReplyRetries) {
        ++retries_;
        vars_.Parser.Reset();
        pause_(kSendPauseMs);
        window_.StartReplyTimer(ReplyTimeoutMs(baud_));
        if (awaiting_ == TAwaiting::Frame) {
            vars_.LinkState = TLinkState::Ready;
            Transmit(lastFrame_.data(), kFrameSize, true);
        } else {
            vars_.LinkState = TLinkState::AwaitingLinkAck;
            TransmitControl(lastControl_, true);
        }
        return;
    }
    // Give up: free the link so the operator can go on.
    const bool noCamera = awaiting_ == TAwaiting::ControlByte && !confirmed_;
    if (!noCamera) {
        // The camera may have taken the last frame, or the ACK that
        // recovered from a malformed frame, and never answered: its ACK to
        // the next frame must neither complete this exchange nor count as a
        // link confirmation.
        vars_.LinkState = TLinkState::Ready;
    }
    if (followUpOut_) {
        // A stop the camera never answered waits for its next answer.
        RequeueFollowUp();
        holdFollowUps_ = true;
    }
    AbandonExchange();
    Report(TTrafficKind::GiveUp, TDirection::Link, {}, 0,
           !noCamera ? kTextNoAnswer : (retryShown_ ? kTextRetry : kTextNoCamera));
    if (!noCamera) {
        window_.SetStatusText(kPanelLink, kTextNoAnswer);
    } else if (!retryShown_) {
        // After a NAK the camera is there: "Retry Please!" stays.
        window_.SetStatusText(kPanelLink, kTextNoCamera);
    }
    noAnswerShown_ = !noCamera;
    // A stop that waited still goes out: the camera may be back.
    DrainFollowUps();
}

}  // namespace zp
