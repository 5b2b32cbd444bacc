// The main window: ten pages in a page control, a status bar of three
// panels, and the camera link behind them.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <vector>

#include "camera_link.h"
#include "page.h"
#include "panel_port.h"
#include "qt_seams.h"

namespace zp {

struct TStartOptions {
    int32_t port = 1;
    int32_t baud = 9600;
    // The pause before every send; tests replace the real sleep.
    TPause pause = PauseMs;
};

// How often a lost device is looked for again.
constexpr int kReconnectIntervalMs = 1000;
// How long closing waits for a last stop to leave the port.
constexpr int kCloseFlushMs = 300;

inline constexpr const char* kTextDeviceLost = "Device lost, reconnecting";

// What assistive technology calls the three status panels; their texts follow
// the name ("Link status: CAM LINK OK").
inline constexpr const char* kPanelNames[3] = {"Link status", "Last frame sent", "Last reply"};

// What the operator reads when the port cannot be opened: the component's
// message and, when the device is there but this user may not use it, how
// to get access.
QString OpenFailureText(const QString& message, const QString& path, bool exists, bool allowed,
                        const QString& group);

class TForm1 : public QMainWindow, public ILinkWindow {
    Q_OBJECT

  public:
    TForm1(std::unique_ptr<IPanelPort> port, TStartOptions options, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up: first page, "Comm. Connecting", open the port, check the link.
    void FormCreate();

    // The page control's handlers: refuse a change while an exchange is
    // outstanding; after a change, clear the echoes and query the new page.
    void PageControl1Changing(QObject* sender, bool& allowChange);
    void PageControl1Change(QObject* sender);

    // The receive handler bound to the port's received-bytes event.
    void Comm1RxChar(QObject* sender, int32_t count);

    // ILinkWindow
    void SetStatusText(int panel, const std::string& text) override;
    void ShowHourglass() override { cursor_.Show(); }
    void RestoreCursor() override { cursor_.Restore(); }
    void EnablePageControl() override;
    void QueryActivePage() override;
    void RouteReplyToPage() override;
    void StartReplyTimer(int milliseconds) override;
    void ReportError(const std::string& text) override;

    // Reopens the port and checks the link again, now.
    void Reconnect();

    TCameraLink& Link() { return link_; }
    IPanelPort& Port() { return *port_; }
    QTabWidget* PageControl1 = nullptr;
    QLabel* StatusPanel(int i) const { return panels_[i]; }
    QToolButton* ReconnectButton() const { return reconnect_; }
    TPage* Page(int index) const { return pages_.at(static_cast<size_t>(index)); }
    bool BusyCursorShown() const { return cursor_.Shown(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormClose();
    void BuildLayout();
    void CurrentChanged(int index);
    void HangUp();
    // The line is gone: forget what was on its way, disable the pages and
    // look for the device once a second.
    void LoseLine();
    // Opens the port; false when that raised an error. A reported failure
    // also says so in panel 0.
    bool TryOpen(bool reportErrors);
    void ReportOpenError(const std::exception& e);
    void ReplyTimerRanOut();
    void ReconnectTimerRanOut();

    std::unique_ptr<IPanelPort> port_;
    TStartOptions options_;
    TBusyCursor cursor_;
    TCameraLink link_;
    std::vector<TPage*> pages_;
    QLabel* panels_[3] = {};
    QToolButton* reconnect_ = nullptr;
    QTimer replyTimer_;
    QTimer reconnectTimer_;
    int shownIndex_ = 0;
    bool reverting_ = false;
};

}  // namespace zp
