// The conversation with the camera: the frame sender and its send gate, the
// connection, the receive dispatch with its link states, and the reply
// time-out with its retries.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/link_seams.h"
#include "link/traffic.h"
#include "link/uVar.h"

namespace zp {

// Pause before every frame and control byte; it also spaces frames apart.
constexpr int kSendPauseMs = 100;
// Sends of the same frame or control byte after the first, before giving up.
constexpr int kReplyRetries = 2;

// Status texts of panel 0.
inline constexpr const char* kTextConnecting = "Comm. Connecting";
inline constexpr const char* kTextConnectFail = "Comm. Connecting fail";
inline constexpr const char* kTextLinkOk = "CAM LINK OK";
inline constexpr const char* kTextRetry = "Retry Please!";
inline constexpr const char* kTextNoAnswer = "No answer from camera";
inline constexpr const char* kTextNoCamera = "No camera found";

// "Comm1. Connected" for port 1.
std::string ConnectedText(int32_t port);

// How long an exchange may stay unanswered at a line speed: the camera's own
// allowance plus the time the frame, its ACK and the reply take on the line.
int ReplyTimeoutMs(int32_t baud);

class TCameraLink {
  public:
    TCameraLink(ILinkPort& port, ILinkWindow& window, TPause pause);

    TLinkVars& Vars() { return vars_; }
    // When the link began: relative times of its events count from here.
    std::chrono::steady_clock::time_point Origin() const { return origin_; }
    const TLinkVars& Vars() const { return vars_; }

    // True while no exchange is outstanding.
    bool CanSend() const { return !vars_.SendBusy; }

    // The page has taken its reply (or refused one of another kind): the
    // operator may send again.
    void ReleaseLink() { vars_.SendBusy = false; }

    // True when nothing is on its way: no frame or control byte waits for an
    // answer and no follow-up waits to go out. The link may be free for the
    // operator (CanSend) while a page's query is still unanswered.
    bool Idle() const { return CanSend() && !exchangeOpen_ && followUps_.empty(); }

    // Completes the shared frame (start, zeroed payload above payloadLength,
    // end, checksum), sends it and echoes bytes 1..14 in panel 1. Does nothing
    // while busy. Always 0.
    int32_t SendFrame(int32_t payloadLength);
    // The same, true when the frame was written to the port: a sequence of
    // commands stops at a write that failed.
    bool TrySendFrame(int32_t payloadLength);

    // Closes an open port, sets port number and speed, opens; panel 0 tells
    // the outcome. A failing open throws the port's error.
    void OpenCameraPort(int32_t port, int32_t baud);

    // Sends ENQ; the camera's ACK confirms the link.
    void CheckLink();

    // Sends one control byte without the busy test and without an echo.
    int32_t SendControlByte(uint8_t b);

    // The receive handler: reads what is waiting and drives the link states.
    void Comm1RxChar(int32_t count);

    // The reply timer ran out: send the same frame or control byte again, or
    // give up after kReplyRetries and free the link for the operator.
    void ReplyTimeout();

    // The port went away: nothing that was on its way will be answered.
    // Frees the link and forgets the exchange; follow-ups (a motion stop)
    // stay queued and go out first once the link is confirmed again. An
    // empty why says the device went away.
    void PortLost(const std::string& why = {});

    // Sends since the current exchange began, for tests and the window.
    int Retries() const { return retries_; }

    // A command that must not be lost (a motion stop and what follows it):
    // sent now when the link is free, otherwise as soon as the outstanding
    // exchange is over, in the order queued; while the line is lost, once the
    // link is confirmed again, before anything else. Payload bytes 1..n.
    void SendFollowUp(const std::vector<uint8_t>& payload);
    size_t PendingFollowUps() const { return followUps_.size(); }
    // Follow-ups the camera on this port still has to get: queued or on
    // their way, while its link is confirmed.
    bool OwesFollowUps() const {
        return confirmed_ && !holdFollowUps_ && (!followUps_.empty() || followUpOut_);
    }
    // Forgets every follow-up, the one on its way too: they were meant for
    // a camera that is no longer on this port.
    void DropFollowUps();

    // Observers hear every event on the line, in order, as it happens.
    void AddObserver(ITrafficObserver* observer);
    void RemoveObserver(ITrafficObserver* observer);

  private:
    enum class TAwaiting { Nothing, Frame, ControlByte };

    void Act(TReplyResult r);
    void ConfirmLink();
    void CompleteReply();
    // Every write goes through here: a port error is shown and frees the
    // link instead of leaving the handler. False when the write failed.
    template <typename TWrite>
    bool Guarded(TWrite&& write);
    // A resend is reported as one, with the send it is.
    bool Transmit(const uint8_t* bytes, int32_t count, bool resend = false);
    bool TransmitControl(uint8_t b, bool resend = false);
    void Report(TTrafficKind kind, TDirection direction, std::vector<uint8_t> bytes = {},
                int count = 0, std::string note = {});
    // What a received byte completed, for the observers: reply, answer,
    // malformed frame or a byte dropped.
    void ReportReceived(TReplyResult r);
    void SendFailed(const char* what);
    // Nothing on its way is awaited any more: the link is free, the cursor back.
    void AbandonExchange();
    bool SendControlChecked(uint8_t b);
    void ArmTimer(TAwaiting what, bool newExchange);
    void DrainFollowUps();
    // The link was confirmed on this port: the camera has answered.
    void LinkConfirmed();
    // The follow-up on its way goes back to the head of the queue.
    void RequeueFollowUp();

    ILinkPort& port_;
    ILinkWindow& window_;
    TPause pause_;
    TLinkVars vars_;

    int32_t baud_ = 9600;
    TAwaiting awaiting_ = TAwaiting::Nothing;
    TCommandFrame lastFrame_{};
    uint8_t lastControl_ = 0;
    int retries_ = 0;
    bool noAnswerShown_ = false;
    bool exchangeOpen_ = false;
    // The camera answered a link check on this port since it was opened.
    bool confirmed_ = false;
    // Follow-ups wait: the line is new or was lost, or a follow-up went
    // unanswered; the camera's next answer lets them go, first.
    bool holdFollowUps_ = true;
    // The follow-up on its way, queued again when it cannot have arrived.
    std::vector<uint8_t> followUpSent_;
    // A NAK answered the link check that is waiting.
    bool retryShown_ = false;
    // The exchange on its way is a follow-up: its reply ends it, whichever
    // page is shown.
    bool followUpOut_ = false;
    // The active page is read again once the follow-ups are through.
    bool requery_ = false;
    std::deque<std::vector<uint8_t>> followUps_;
    std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
    std::vector<ITrafficObserver*> observers_;
    // The bytes of the unit being received: a frame, or a control byte.
    std::vector<uint8_t> unit_;
};

// Fills in start byte, zeroed payload, end byte and checksum in place.
void CompleteFrame(TCommandFrame& frame, int32_t payloadLength);

}  // namespace zp
