// What the camera link needs of the world around it: the serial port, the
// window and a pause. The window, the real port and the window's pause plug
// in here; tests plug in fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zp {

// The handful of serial-port operations the link calls. Failures surface as
// exceptions of the port's own type; the link catches those of its writes and
// hands their text to the window.
class ILinkPort {
  public:
    virtual ~ILinkPort() = default;
    virtual bool IsOpen() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void SetPortNum(int32_t port) = 0;
    virtual void SetUserBaudrate(int32_t baud) = 0;
    virtual int32_t TransmitData(const void* data, int32_t count) = 0;
    virtual bool TransmitByte(uint8_t b) = 0;
    virtual std::string ReceivePending() = 0;
};

// The link's port operations, forwarded to a serial component: TBase is
// ILinkPort or an interface built on it, TComm any type with the same calls.
template <typename TBase, typename TComm>
class TLinkPortOf : public TBase {
  public:
    bool IsOpen() override { return Comm().IsOpen(); }
    void Open() override { Comm().Open(); }
    void Close() override { Comm().Close(); }
    void SetPortNum(int32_t port) override { Comm().SetPortNum(port); }
    void SetUserBaudrate(int32_t baud) override { Comm().SetUserBaudrate(baud); }
    int32_t TransmitData(const void* data, int32_t count) override {
        return Comm().TransmitData(data, count);
    }
    bool TransmitByte(uint8_t b) override { return Comm().TransmitByte(b); }
    std::string ReceivePending() override { return Comm().ReceivePending(); }

  protected:
    virtual TComm& Comm() = 0;
};

// Status-bar panels of the main window.
enum TStatusPanel : int { kPanelLink = 0, kPanelSent = 1, kPanelReply = 2 };

// What the link needs of the main window.
class ILinkWindow {
  public:
    virtual ~ILinkWindow() = default;
    virtual void SetStatusText(int panel, const std::string& text) = 0;
    virtual void ShowHourglass() = 0;
    virtual void RestoreCursor() = 0;
    virtual void EnablePageControl() = 0;
    virtual void QueryActivePage() = 0;
    virtual void RouteReplyToPage() = 0;
    // (Re)starts the single-shot reply timer; when it runs out the window
    // calls TCameraLink::ReplyTimeout.
    virtual void StartReplyTimer(int milliseconds) = 0;
    // Shows a failure of the port to the operator; the program goes on.
    virtual void ReportError(const std::string& text) = 0;
};

// Returns after the given number of milliseconds. The window's pause keeps
// painting meanwhile and holds back everything that could reach the link.
using TPause = std::function<void(int milliseconds)>;

}  // namespace zp
