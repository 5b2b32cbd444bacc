// The main window: ten pages in a page control, a status bar of three
// panels, and the camera link behind them.
#pragma once

#include <QActionGroup>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/backup.h"
#include "link/camera_link.h"
#include "panel/page.h"
#include "panel/panel_port.h"
#include "panel/qt_seams.h"
#include "panel/settings_transfer.h"
#include "panel/traffic_view.h"
#include "serial/platform/port_list.h"

namespace zp {

// A serial port as the Port menu lists it.
struct TPortEntry {
    std::string path;         // what is opened
    std::string description;  // what the operator reads
    bool console = false;     // the system's console
};
struct TPortMenuList {
    std::vector<TPortEntry> ports;
    std::string note;  // said in the menu, e.g. why names are plain
};

struct TStartOptions {
    int32_t port = 1;
    int32_t baud = 9600;
    // The pause before every send; tests replace the real one.
    TPause pause = PauseMs;
    // The ports the machine has, asked for each time the Port menu opens.
    std::function<TPortMenuList()> listPorts;
    // Starts the virtual camera and returns its device; throws with the
    // reason when it cannot.
    std::function<std::string()> startVirtualCamera;
    // The device already set on the port is the virtual camera.
    bool virtualCamera = false;
    // The traffic log's file, "" for none.
    std::string logPath;
    // The device set on the port is the remembered one: when it is gone,
    // nothing is opened.
    bool rememberedPort = false;
    // Tells of ports coming and going (udev); none where nothing can tell,
    // and then the once-a-second poll finds a device that came back.
    std::shared_ptr<IPortMonitor> portMonitor;
    // The memories File > Save reads.
    int firstMemory = kFirstMemory;
    int lastMemory = kLastMemory;
    // Asks for the settings file to save to (save) or to load, suggesting a
    // path; "" when none was chosen. None: the file dialog asks.
    std::function<QString(bool save, const QString& suggested)> chooseSettingsFile;
};

// The machine's serial ports as the Port menu shows them.
TPortMenuList SystemPorts();

// Settings that outlive a run (QSettings keys).
inline constexpr const char* kSettingPort = "port/device";
inline constexpr const char* kSettingPosition = "window/position";
inline constexpr const char* kSettingFilesFolder = "files/folder";

inline constexpr const char* kTextJobRefused =
    "The camera is busy or not connected; try again when the link is up";

// The port remembered from the last run that reached the camera; empty when
// none.
std::string RememberedPort();
// Which device a run starts on: --device wins, then --simulate (the virtual
// camera), then the port remembered from the last run; with none of them the
// device stays empty and the layout's COM1 is opened.
struct TStartDevice {
    std::string device;
    bool virtualCamera = false;
    bool remembered = false;
};
TStartDevice StartDevice(const std::string& deviceOption, bool simulate,
                         const std::string& remembered);

// Whether a device is worth remembering: not a pseudo-terminal's number,
// which another program may hold next time.
bool WorthRemembering(const std::string& path);

// How often a lost device is looked for again.
constexpr int kReconnectIntervalMs = 1000;
// How often a network device that is still connecting is looked at.
constexpr int kConnectPollMs = 50;
// How long closing waits for a last stop to leave the port.
constexpr int kCloseFlushMs = 300;
// How long a change of port waits for the old camera to get what it is owed
// (a stop behind an exchange that may be sent three times).
constexpr int kOwedWaitMs = 4000;

// What the docked traffic view adds to the window's height.
constexpr int kTrafficHeight = 280;

inline constexpr const char* kTextDeviceLost = "Device lost, reconnecting";
inline constexpr const char* kTextPortAbsent = "Remembered port absent";

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

    // Leaves the open port for another device and checks the link there. A
    // stop still owed to the old camera goes to it first while its link is
    // up; otherwise it is dropped, never sent to the new camera.
    void ChoosePort(const std::string& device, bool virtualCamera = false);
    void ChooseVirtualCamera();
    void ChooseOtherDevice();
    QMenu* PortMenu() const { return portMenu_; }
    // Fills the Port menu afresh; it runs each time the menu opens.
    void FillPortMenu();
    const std::string& Device() const { return device_; }

    TCameraLink& Link() { return link_; }
    IPanelPort& Port() { return *port_; }
    QTabWidget* PageControl1 = nullptr;
    QLabel* StatusPanel(int i) const { return panels_[i]; }
    QToolButton* ReconnectButton() const { return reconnect_; }
    TPage* Page(int index) const { return pages_.at(static_cast<size_t>(index)); }
    bool BusyCursorShown() const { return cursor_.Shown(); }
    TTrafficView* Traffic() const { return traffic_; }
    QDockWidget* TrafficDock() const { return trafficDock_; }
    // Starts writing the traffic log (appending); a file that cannot be
    // written is reported and the panel goes on without it. False then.
    bool StartLog(const std::string& path);
    void StopLog();
    const TTrafficLog& Log() const { return log_; }

    // File menu: the camera's whole configuration into a file, or set from
    // one and read back. The menu asks for the file, then calls these; each
    // runs while the window goes on and tells its result when it ends.
    void SaveCameraSettings(const QString& path);
    void LoadCameraSettings(const QString& path);
    bool JobRunning() const { return transfer_->Running(); }
    // The text of the last save or load result shown.
    QString LastJobResult() const { return transfer_->LastResult(); }
    QProgressDialog* JobProgress() const { return transfer_->Progress(); }
    QMenu* FileMenu() const { return fileMenu_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormClose();
    void BuildLayout();
    void CurrentChanged(int index);
    void HangUp();
    // The line is gone: forget what was on its way, disable the pages and
    // look for the device once a second.
    void LoseLine(const std::string& why = {});
    // Opens the port; false when that raised an error. A reported failure
    // also says so in panel 0.
    bool TryOpen(bool reportErrors);
    void ReportOpenError(const std::exception& e);
    void ReplyTimerRanOut();
    void ReconnectTimerRanOut();
    // The link check, once a network device has connected: its time-outs
    // would otherwise run out before a slow connection's own failure.
    void CheckLinkOnceConnected();
    void BuildMenu();
    void BuildFileMenu();
    void BuildViewMenu();
    // The file to save to or load, "" when none was chosen.
    QString ChooseSettingsFile(bool save);
    // An action that opens a dialog: it opens on the next turn of the main
    // loop, so whoever triggered it is answered at once, and after a pause
    // rather than inside it, which would hold the link until it closed.
    void ConnectDialogAction(QAction* action, void (TForm1::*open)());
    void OpenDialog(void (TForm1::*open)());
    void SaveToChosenFile();
    void LoadChosenFile();
    // Says why when a save or load cannot start now.
    bool CanStartJob();
    // Enables the pages and the file actions: while the link is up and no
    // job runs.
    void UpdatePageControl();
    void ChooseLog();
    void PortsChanged();
    // The second half of ChoosePort, once the old camera has what it is owed.
    void SwitchPort();
    // The ports as the Port menu lists them now.
    TPortMenuList Ports() const;
    // Ends every motion button's hold: its stop goes out (or waits).
    void EndHolds();
    void ShowDeviceInTitle(const TPortMenuList& list);
    void RememberPort(const TPortMenuList& list);
    // The listed port that is the open device, by path or by what a link
    // names; nullptr when it is not listed.
    const TPortEntry* ListedPort(const TPortMenuList& list) const;

    std::unique_ptr<IPanelPort> port_;
    TStartOptions options_;
    TBusyCursor cursor_;
    TCameraLink link_;
    // After the link, which its job observes, and gone before it.
    std::unique_ptr<TSettingsTransfer> transfer_;
    // The link is confirmed: the pages may be used, unless a job runs.
    bool linkUp_ = false;
    std::vector<TPage*> pages_;
    QLabel* panels_[3] = {};
    QToolButton* reconnect_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* loadAction_ = nullptr;
    QMenu* portMenu_ = nullptr;
    QActionGroup* portGroup_ = nullptr;
    QAction* reconnectAction_ = nullptr;
    TTrafficView* traffic_ = nullptr;
    QDockWidget* trafficDock_ = nullptr;
    QAction* logAction_ = nullptr;
    TTrafficLog log_;
    bool trafficGrown_ = false;
    // The device the port opens ("" while it is COM1 of the layout), and
    // what the title calls it.
    std::string device_;
    std::string deviceLabel_;
    bool virtual_ = false;
    // A port chosen while the old camera is still owed a stop.
    std::string nextDevice_;
    bool nextVirtual_ = false;
    QTimer owedTimer_;
    QElapsedTimer owedWait_;
    QTimer replyTimer_;
    QTimer reconnectTimer_;
    QTimer connectTimer_;
    int shownIndex_ = 0;
    bool reverting_ = false;
    // The loss of the line was told; tries to reconnect that fail keep quiet
    // until the link is up again.
    bool lossReported_ = false;
};

}  // namespace zp
