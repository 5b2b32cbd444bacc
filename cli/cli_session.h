// zoomctl's side of the camera link: the serial port with the camera's line
// settings, a window that is a terminal, and a main loop of its own that
// runs the port's calls, the reply timer and the pauses.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/camera_job.h"
#include "link/camera_link.h"
#include "serial/VaComm.h"
#include "serial/main_thread.h"

namespace zp {

// Set by the signal handler: the job stops after the exchange on its way.
extern std::atomic<bool> gInterrupted;

class TCliSession : private TLinkPortOf<ILinkPort, TVaComm>, private ILinkWindow {
  public:
    // pause: the wait before every send (the camera needs 100 ms).
    explicit TCliSession(TPause pause);
    ~TCliSession() override;
    TCliSession(const TCliSession&) = delete;
    TCliSession& operator=(const TCliSession&) = delete;

    // Opens the device ("COM1" style or a path) and checks the link. False
    // with the reason: the port's error, or the link's last status text.
    bool Connect(const std::string& device, std::string& error);
    // What panel 0 says: "CAM LINK OK", "No camera found", ...
    const std::string& LinkText() const { return linkText_; }

    // Runs the steps to their end; progress after each answered step.
    // False with the reason when the job stopped early (a time-out, a
    // hang-up, an interruption: "interrupted after 3 of 12 exchanges").
    bool Run(std::vector<TJobStep> steps, std::vector<TReplyBytes>& replies, std::string& error,
             const std::function<void(const TCameraJob&)>& progress = {});

    // The device as opened.
    std::string DeviceText();

  private:
    TVaComm& Comm() override { return comm_; }

    // ILinkWindow
    void SetStatusText(int panel, const std::string& text) override;
    void ShowHourglass() override {}
    void RestoreCursor() override {}
    void EnablePageControl() override {}
    void QueryActivePage() override;
    void RouteReplyToPage() override;
    void StartReplyTimer(int milliseconds) override;
    void ReportError(const std::string& text) override;

    // Runs the loop until done() holds; false when the camera went quiet
    // for longer than any exchange may take.
    bool Loop(const std::function<bool()>& done);

    std::shared_ptr<TMainThreadQueue> queue_;
    TVaComm comm_;
    TCameraLink link_;
    TCameraJob job_;
    std::string linkText_;
    std::string lastError_;
    bool confirmed_ = false;
    bool lost_ = false;
    std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
};

}  // namespace zp
