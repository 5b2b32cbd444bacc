#include "panel/uZoom.h"

#include "serial/platform/port_device.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>

#include "panel/pages/lens_page.h"
#include "panel/pages/pages.h"

namespace zp {

TForm1::TForm1(std::unique_ptr<IPanelPort> port, TStartOptions options, QWidget* parent)
    : QMainWindow(parent),
      port_(std::move(port)),
      options_(options),
      link_(*port_, *this, options_.pause),
      transfer_(std::make_unique<TSettingsTransfer>(link_, this)),
      log_(link_.Origin()) {
    setObjectName("Form1");
    virtual_ = options_.virtualCamera;
    device_ = port_->DeviceText();
    transfer_->Ready = [this] { return CanStartJob(); };
    transfer_->OnStarted = [this] { UpdatePageControl(); };
    transfer_->OnEnded = [this](bool changed) {
        UpdatePageControl();
        // The page shows what the camera holds now.
        if (changed && linkUp_ && link_.Idle()) {
            QueryActivePage();
        }
    };
    BuildLayout();
    UpdatePageControl();
    ShowDeviceInTitle(Ports());

    port_->SetOnRxChar([this](int32_t count) { Comm1RxChar(this, count); });
    port_->SetOnHangUp([this] { HangUp(); });

    replyTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, &TForm1::ReplyTimerRanOut);
    reconnectTimer_.setInterval(kReconnectIntervalMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &TForm1::ReconnectTimerRanOut);
    connectTimer_.setInterval(kConnectPollMs);
    connect(&connectTimer_, &QTimer::timeout, this, &TForm1::CheckLinkOnceConnected);
    owedTimer_.setInterval(20);
    connect(&owedTimer_, &QTimer::timeout, this, [this] {
        if (!link_.OwesFollowUps() || !port_->IsOpen() || owedWait_.elapsed() > kOwedWaitMs) {
            SwitchPort();
        }
    });
    link_.AddObserver(traffic_->Model());
    link_.AddObserver(&log_);
    log_.OnError = [this](const std::string& error) {
        // Told after the log closed itself; the panel goes on without it.
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                StopLog();
                ShowErrorMessage(QString::fromLocal8Bit(error.c_str()), this);
            },
            Qt::QueuedConnection);
    };
    if (!options_.logPath.empty()) {
        StartLog(options_.logPath);
    }
    if (options_.portMonitor) {
        auto* notifier =
            new QSocketNotifier(options_.portMonitor->Fd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &TForm1::PortsChanged);
        HoldDuringPauses(notifier);
    }

    FormCreate();
}

TForm1::~TForm1() {
    FormClose();
}

void TForm1::BuildLayout() {
    auto* panel1 = new QWidget(this);
    panel1->setObjectName("Panel1");
    auto* layout = new QVBoxLayout(panel1);
    layout->setContentsMargins(4, 4, 4, 0);

    PageControl1 = new QTabWidget(panel1);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setAccessibleName("Camera settings");
    QFont tabFont = PageControl1->tabBar()->font();
    tabFont.setBold(true);
    PageControl1->tabBar()->setFont(tabFont);
    pages_ = CreatePages(link_, PageControl1);
    for (TPage* page : pages_) {
        PageControl1->addTab(page, page->Caption());
    }
    PageControl1->setEnabled(false);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::CurrentChanged);
    layout->addWidget(PageControl1);
    setCentralWidget(panel1);

    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(true);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(std::max(7, font().pointSize() - 1));
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QString("StatusPanel%1").arg(i));
        label->setAccessibleName(kPanelNames[i]);
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (i == 0) {
            // The longest status must show whole.
            int widest = 150;
            for (const char* text :
                 {kTextConnecting, kTextConnectFail, kTextLinkOk, kTextRetry, kTextNoAnswer,
                  kTextNoCamera, kTextDeviceLost, kTextPortAbsent}) {
                widest = std::max(widest, label->fontMetrics().horizontalAdvance(text) +
                                              2 * label->frameWidth() + 12);
            }
            label->setMinimumWidth(widest);
        } else {
            // Wide enough for the whole echo: 28 and 30 hexadecimal digits.
            label->setFont(mono);
            const int digits = i == 1 ? 28 : 30;
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString(digits, '0')) +
                                   2 * label->frameWidth() + 8);
        }
        bar->addWidget(label, i == 0 ? 1 : 0);
        panels_[i] = label;
    }
    reconnect_ = new QToolButton(bar);
    reconnect_->setObjectName("ReconnectButton");
    reconnect_->setText("Reconnect");
    reconnect_->setToolTip("Open the port again and check the camera link (F5)");
    reconnect_->setAccessibleName("Reconnect");
    connect(reconnect_, &QToolButton::clicked, this, &TForm1::Reconnect);
    bar->addPermanentWidget(reconnect_);
    BuildMenu();

    // 640 x 480 below the menu bar, or wider where the three panels and
    // Reconnect need it.
    resize(std::max(640, bar->minimumSizeHint().width()), 480 + menuBar()->sizeHint().height());
    const QPoint saved = QSettings().value(kSettingPosition).toPoint();
    const QScreen* screen = QGuiApplication::screenAt(saved);
    if (screen != nullptr && QSettings().contains(kSettingPosition)) {
        move(saved);
    } else if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        move(primary->availableGeometry().center() - rect().center());
    }
}

void TForm1::BuildViewMenu() {
    traffic_ = new TTrafficView(link_.Origin());
    trafficDock_ = new QDockWidget("Traffic", this);
    trafficDock_->setObjectName("TrafficDock");
    trafficDock_->setWidget(traffic_);
    trafficDock_->setAccessibleName("Traffic");
    addDockWidget(Qt::BottomDockWidgetArea, trafficDock_);
    trafficDock_->hide();
    // Docked, the view takes room of its own below the pages rather than
    // theirs: the window grows while it shows.
    connect(trafficDock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (trafficDock_->isFloating() || shown == trafficGrown_) {
            return;
        }
        trafficGrown_ = shown;
        resize(width(), height() + (shown ? kTrafficHeight : -kTrafficHeight));
    });
    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("ViewMenu");
    QAction* show = trafficDock_->toggleViewAction();
    show->setObjectName("TrafficAction");
    show->setText("&Traffic");
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    show->setShortcutContext(Qt::WindowShortcut);
    view->addAction(show);
    addAction(show);
    logAction_ = view->addAction("Start traffic &log...");
    logAction_->setObjectName("TrafficLogAction");
    ConnectDialogAction(logAction_, &TForm1::ChooseLog);
}

bool TForm1::StartLog(const std::string& path) {
    std::string error;
    if (!log_.Open(path, error)) {
        ShowErrorMessage(
            QString::fromLocal8Bit(error.c_str()) + "\n\nThe panel goes on without a traffic log.",
            this);
        StopLog();
        return false;
    }
    logAction_->setText("Stop traffic &log (" + QString::fromStdString(path) + ")");
    return true;
}

void TForm1::StopLog() {
    log_.Close();
    logAction_->setText("Start traffic &log...");
}

void TForm1::ChooseLog() {
    if (log_.IsOpen()) {
        StopLog();
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, "Traffic log", "zoompanel-traffic.log",
                                                      "Log (*.log *.txt)", nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) {
        StartLog(path.toStdString());
    }
}

void TForm1::BuildFileMenu() {
    fileMenu_ = menuBar()->addMenu("&File");
    fileMenu_->setObjectName("FileMenu");
    saveAction_ = fileMenu_->addAction("&Save camera settings...");
    saveAction_->setObjectName("SaveSettingsAction");
    saveAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ConnectDialogAction(saveAction_, &TForm1::SaveToChosenFile);
    loadAction_ = fileMenu_->addAction("&Load camera settings...");
    loadAction_->setObjectName("LoadSettingsAction");
    loadAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    ConnectDialogAction(loadAction_, &TForm1::LoadChosenFile);
    fileMenu_->addSeparator();
    QAction* quit = fileMenu_->addAction("&Quit");
    quit->setObjectName("QuitAction");
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    for (QAction* a : {saveAction_, loadAction_, quit}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
}

void TForm1::ConnectDialogAction(QAction* action, void (TForm1::*open)()) {
    connect(
        action, &QAction::triggered, this, [this, open] { OpenDialog(open); },
        Qt::QueuedConnection);
}

void TForm1::OpenDialog(void (TForm1::*open)()) {
    if (AfterPauseIfPausing(this, [open](TForm1* form) { form->OpenDialog(open); })) {
        return;
    }
    (this->*open)();
}

void TForm1::SaveToChosenFile() {
    const QString path = ChooseSettingsFile(true);
    if (!path.isEmpty()) {
        SaveCameraSettings(path);
    }
}

void TForm1::LoadChosenFile() {
    const QString path = ChooseSettingsFile(false);
    if (!path.isEmpty()) {
        LoadCameraSettings(path);
    }
}

QString TForm1::ChooseSettingsFile(bool save) {
    QSettings settings;
    QString folder = settings.value(kSettingFilesFolder).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    const QString suggested = save ? QDir(folder).filePath("camera-settings.json") : folder;
    QString path;
    if (options_.chooseSettingsFile) {
        path = options_.chooseSettingsFile(save, suggested);
    } else if (save) {
        QFileDialog dialog(this, "Save camera settings", folder, "Camera settings (*.json)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("json");
        dialog.selectFile(suggested);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().front();
        }
    } else {
        path = QFileDialog::getOpenFileName(this, "Load camera settings", folder,
                                            "Camera settings (*.json);;All files (*)");
    }
    if (!path.isEmpty()) {
        settings.setValue(kSettingFilesFolder, QFileInfo(path).absolutePath());
    }
    return path;
}

bool TForm1::CanStartJob() {
    if (!linkUp_ || !link_.Idle() || Pausing()) {
        ShowErrorMessage(kTextJobRefused, this);
        return false;
    }
    return true;
}

void TForm1::SaveCameraSettings(const QString& path) {
    transfer_->Save(path, port_->DeviceText(), options_.firstMemory, options_.lastMemory);
}

void TForm1::LoadCameraSettings(const QString& path) {
    transfer_->Load(path);
}

void TForm1::UpdatePageControl() {
    const bool usable = linkUp_ && !transfer_->Running();
    PageControl1->setEnabled(usable);
    if (saveAction_ != nullptr) {
        saveAction_->setEnabled(usable);
        loadAction_->setEnabled(usable);
    }
}

void TForm1::BuildMenu() {
    BuildFileMenu();
    portMenu_ = menuBar()->addMenu("&Port");
    portMenu_->setObjectName("PortMenu");
    // F5 reconnects from anywhere; the button shows while the link is not up.
    reconnectAction_ = new QAction("&Reconnect", this);
    reconnectAction_->setObjectName("ReconnectAction");
    reconnectAction_->setShortcut(QKeySequence(Qt::Key_F5));
    reconnectAction_->setShortcutContext(Qt::WindowShortcut);
    connect(reconnectAction_, &QAction::triggered, this, &TForm1::Reconnect);
    addAction(reconnectAction_);
    connect(portMenu_, &QMenu::aboutToShow, this, &TForm1::FillPortMenu);
    FillPortMenu();
    BuildViewMenu();
}

void TForm1::FillPortMenu() {
    portMenu_->clear();
    delete portGroup_;
    auto* group = new QActionGroup(portMenu_);
    portGroup_ = group;
    const auto add = [&](const QString& text, const std::string& path, bool checked) {
        QAction* a = portMenu_->addAction(text);
        a->setCheckable(true);
        a->setChecked(checked);
        a->setActionGroup(group);
        a->setToolTip(QString::fromStdString(path));
        a->setStatusTip(QString::fromStdString(path));
        return a;
    };
    const TPortMenuList list = Ports();
    const TPortEntry* open = ListedPort(list);
    for (const TPortEntry& p : list.ports) {
        QString text = QString::fromStdString(p.description.empty() ? p.path : p.description);
        if (p.console) {
            text += " (system console)";
        }
        QAction* a = add(text, p.path, &p == open);
        connect(a, &QAction::triggered, this, [this, path = p.path] { ChoosePort(path); });
    }
    if (!list.note.empty()) {
        portMenu_->addAction(QString::fromStdString(list.note))->setEnabled(false);
    }
    if (list.ports.empty() && list.note.empty()) {
        portMenu_->addAction("No serial ports found")->setEnabled(false);
    }
    portMenu_->addSeparator();
    QAction* demo = add("&Virtual camera (demo)", "", virtual_);
    demo->setObjectName("VirtualCameraAction");
    demo->setEnabled(static_cast<bool>(options_.startVirtualCamera));
    connect(demo, &QAction::triggered, this, &TForm1::ChooseVirtualCamera);
    QAction* other = portMenu_->addAction("&Other device...");
    other->setObjectName("OtherDeviceAction");
    ConnectDialogAction(other, &TForm1::ChooseOtherDevice);
    portMenu_->addSeparator();
    portMenu_->addAction(reconnectAction_);
}

void TForm1::FormCreate() {
    {
        const QSignalBlocker block(PageControl1);
        PageControl1->setCurrentIndex(0);
    }
    shownIndex_ = 0;
    if (options_.rememberedPort && !IsNetDeviceName(device_) &&
        !QFileInfo::exists(QString::fromStdString(device_))) {
        // Last run's port is not plugged in: no error, the Port menu is the
        // way on.
        SetStatusText(kPanelLink, kTextPortAbsent);
        return;
    }
    SetStatusText(kPanelLink, kTextConnecting);
    // On the first turn of the main loop, shown or not: opening the port and
    // the link check's pause do not hold back the window's first paint.
    QMetaObject::invokeMethod(
        this,
        [this] {
            // Only a raised error skips the link check; a port that stayed
            // shut swallows it and the time-out reports "No camera found".
            if (TryOpen(true)) {
                CheckLinkOnceConnected();
            }
        },
        Qt::QueuedConnection);
}

bool TForm1::TryOpen(bool reportErrors) {
    try {
        link_.OpenCameraPort(options_.port, options_.baud);
    } catch (const std::exception& e) {
        if (reportErrors) {
            // Nothing is connecting any more: say so.
            SetStatusText(kPanelLink, kTextConnectFail);
            ReportOpenError(e);
        }
        return false;
    }
    return true;
}

QString OpenFailureText(const QString& message, const QString& path, bool exists, bool allowed,
                        const QString& group) {
    QString text = message;
    if (exists && !allowed) {
        text += QString(
                    "\n\nYou are not allowed to use %1. Its group is '%2': add yourself "
                    "to it (sudo adduser $USER %2), then log in again.")
                    .arg(path, group);
    }
    return text + "\n\nChoose a port in the Port menu.";
}

void TForm1::ReportOpenError(const std::exception& e) {
    const QFileInfo device(QString::fromStdString(port_->DeviceText()));
    ShowErrorMessage(
        OpenFailureText(QString::fromLocal8Bit(e.what()), device.filePath(), device.exists(),
                        device.isReadable() && device.isWritable(), device.group()),
        this);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

void TForm1::FormClose() {
    if (isVisible()) {
        QSettings().setValue(kSettingPosition, pos());
    }
    // A zoom or focus still held stops before the line closes, and its stop
    // may leave before the rest of the output is dropped.
    RunAfterPause();
    EndHolds();
    transfer_->Cancel();
    replyTimer_.stop();
    reconnectTimer_.stop();
    connectTimer_.stop();
    owedTimer_.stop();
    if (port_->IsOpen()) {
        port_->WaitSent(kCloseFlushMs);
        port_->Close();
    }
    cursor_.Restore();
}

void TForm1::PageControl1Changing(QObject*, bool& allowChange) {
    // Only an assistive tool's action reaches here during a pause: the link
    // is taken until it ends.
    if (!link_.CanSend() || Pausing()) {
        allowChange = false;
    }
}

void TForm1::PageControl1Change(QObject*) {
    SetStatusText(kPanelSent, "");
    SetStatusText(kPanelReply, "");
    QueryActivePage();
}

// Qt tells of a page change only after it happened, whichever way it was
// asked for (mouse, keyboard, accessibility); a refused change is undone
// before anything is drawn.
void TForm1::CurrentChanged(int index) {
    if (reverting_) {
        return;
    }
    bool allow = true;
    PageControl1Changing(PageControl1, allow);
    if (!allow) {
        reverting_ = true;
        PageControl1->setCurrentIndex(shownIndex_);
        reverting_ = false;
        return;
    }
    shownIndex_ = index;
    try {
        PageControl1Change(PageControl1);
    } catch (const std::exception& e) {
        ShowErrorMessage(QString::fromLocal8Bit(e.what()), this);
    }
}

void TForm1::Comm1RxChar(QObject*, int32_t count) {
    link_.Comm1RxChar(count);
}

void TForm1::SetStatusText(int panel, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    QLabel* label = panels_[panel];
    label->setText(shown);
    // A screen reader reads the name; setting it raises the name-changed
    // event that announces a new link status.
    const QString name = shown.isEmpty() ? QString(kPanelNames[panel])
                                         : QString("%1: %2").arg(kPanelNames[panel], shown);
    if (label->accessibleName() == name) {
        return;
    }
    label->setAccessibleName(name);
    if (panel == kPanelLink) {
        reconnect_->setVisible(text != kTextLinkOk);
        if (text == kTextLinkOk) {
            // One look at the ports: the adapter may be back under another
            // tty number.
            const TPortMenuList list = Ports();
            RememberPort(list);
            ShowDeviceInTitle(list);
        }
    }
}

TStartDevice StartDevice(const std::string& deviceOption, bool simulate,
                         const std::string& remembered) {
    if (!deviceOption.empty()) {
        return {deviceOption, false, false};
    }
    if (simulate) {
        return {"", true, false};
    }
    if (!remembered.empty()) {
        return {remembered, false, true};
    }
    return {};
}

TPortMenuList SystemPorts() {
    const TPortListing listing = ListPorts();
    TPortMenuList menu;
    for (const TPortInfo& p : listing.ports) {
        menu.ports.push_back({p.path, p.description, p.console});
    }
    menu.note = listing.note;
    return menu;
}

bool WorthRemembering(const std::string& path) {
    return !path.empty() && !QDir::cleanPath(QString::fromStdString(path)).startsWith("/dev/pts/");
}

namespace {

// The same device: the same path, or a link (by-id) and the tty it names.
bool SameDevice(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    const QString ca = QFileInfo(QString::fromStdString(a)).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(QString::fromStdString(b)).canonicalFilePath();
}

}  // namespace

const TPortEntry* TForm1::ListedPort(const TPortMenuList& list) const {
    const TPortEntry* found = nullptr;
    for (const TPortEntry& p : list.ports) {
        if (!virtual_ && SameDevice(p.path, device_)) {
            found = &p;
        }
    }
    return found;
}

std::string RememberedPort() {
    return QSettings().value(kSettingPort).toString().toStdString();
}

TPortMenuList TForm1::Ports() const {
    return options_.listPorts ? options_.listPorts() : TPortMenuList{};
}

void TForm1::EndHolds() {
    for (TMotionButton* b : findChildren<TMotionButton*>()) {
        b->EndHold();
    }
}

void TForm1::RememberPort(const TPortMenuList& list) {
    if (virtual_ || !WorthRemembering(device_)) {
        return;
    }
    // A ttyUSB number changes from plug to plug; its by-id name does not.
    std::string keep = device_;
    const TPortEntry* listed = ListedPort(list);
    if (listed != nullptr && QString::fromStdString(keep).startsWith("/dev/tty") &&
        listed->path.rfind("/dev/serial/by-id/", 0) == 0) {
        keep = listed->path;
    }
    QSettings().setValue(kSettingPort, QString::fromStdString(keep));
}

void TForm1::ShowDeviceInTitle(const TPortMenuList& list) {
    QString where = virtual_ ? QString("Virtual camera (demo)") : QString::fromStdString(device_);
    if (const TPortEntry* listed = ListedPort(list);
        listed != nullptr && !listed->description.empty()) {
        where = QString::fromStdString(listed->description);
    }
    setWindowTitle(where.isEmpty() ? QString("26x Zoom")
                                   : QString("26x Zoom \u2014 %1").arg(where));
}

void TForm1::ChoosePort(const std::string& device, bool virtualCamera) {
    // Chosen through an assistive tool while a send waits its pause: the
    // change follows it.
    if (AfterPauseIfPausing(this, [device, virtualCamera](TForm1* form) {
            form->ChoosePort(device, virtualCamera);
        })) {
        return;
    }
    // A save or load ends with the old line: it stops after the exchange on
    // its way, or when the line closes.
    transfer_->Cancel();
    // What the old camera is still owed goes to it while its link is up; a
    // stop behind an outstanding exchange is waited for, a little while.
    RunAfterPause();
    EndHolds();
    nextDevice_ = device;
    nextVirtual_ = virtualCamera;
    owedWait_.start();
    if (link_.OwesFollowUps() && port_->IsOpen()) {
        owedTimer_.start();
        return;
    }
    SwitchPort();
}

void TForm1::SwitchPort() {
    owedTimer_.stop();
    const std::string device = nextDevice_;
    const bool virtualCamera = nextVirtual_;
    if (port_->IsOpen()) {
        port_->WaitSent(kCloseFlushMs);
    }
    reconnectTimer_.stop();
    replyTimer_.stop();
    connectTimer_.stop();
    if (port_->IsOpen()) {
        port_->Close();
    }
    link_.PortLost();
    link_.DropFollowUps();
    cursor_.Restore();
    linkUp_ = false;
    UpdatePageControl();
    device_ = device;
    virtual_ = virtualCamera;
    lossReported_ = false;
    port_->SetDeviceName(device);
    // As the port will open it: "pts/3" is /dev/pts/3.
    device_ = port_->DeviceText();
    ShowDeviceInTitle(Ports());
    SetStatusText(kPanelLink, kTextConnecting);
    if (TryOpen(true)) {
        CheckLinkOnceConnected();
        return;
    }
    // Which device failed: the tty a by-id link points at, or the name given.
    const QFileInfo info(QString::fromStdString(device));
    const QString target = info.canonicalFilePath();
    const QString name = target.isEmpty() ? info.fileName() : QFileInfo(target).fileName();
    SetStatusText(kPanelLink, std::string(kTextConnectFail) + ": " + name.toStdString());
}

void TForm1::ChooseVirtualCamera() {
    if (!options_.startVirtualCamera) {
        return;
    }
    if (virtual_) {
        // Starting it again would end the camera that is still owed a stop.
        ChoosePort(device_, true);
        return;
    }
    std::string path;
    try {
        path = options_.startVirtualCamera();
    } catch (const std::exception& e) {
        ShowErrorMessage(QString("The virtual camera did not start: %1").arg(e.what()), this);
        return;
    }
    ChoosePort(path, true);
}

void TForm1::ChooseOtherDevice() {
    bool ok = false;
    const QString path = QInputDialog::getText(
        this, "Other device",
        "Serial device to open (a path such as /dev/ttyUSB0,\nor a server: rfc2217://HOST:PORT or "
        "tcp://HOST:PORT):",
        QLineEdit::Normal, virtual_ ? QString() : QString::fromStdString(device_), &ok);
    if (ok && !path.trimmed().isEmpty()) {
        ChoosePort(path.trimmed().toStdString());
    }
}

void TForm1::ReportError(const std::string& text) {
    if (port_->IsOpen() && !port_->LostReason().empty()) {
        // A write to a line already lost: the hang-up that is on its way
        // tells of it, once.
        return;
    }
    ShowErrorMessage(QString::fromLocal8Bit(text.c_str()), this);
}

void TForm1::EnablePageControl() {
    linkUp_ = true;
    lossReported_ = false;
    UpdatePageControl();
}

void TForm1::QueryActivePage() {
    if (transfer_->Running()) {
        transfer_->Resend();
        return;
    }
    const int index = PageControl1->currentIndex();
    if (index >= 0) {
        pages_[static_cast<size_t>(index)]->Query();
    }
}

void TForm1::RouteReplyToPage() {
    // A reply the job does not take is left to the link, which sends its
    // step again after the time-out.
    if (transfer_->Running()) {
        transfer_->TakeReply();
        return;
    }
    const int index = PageControl1->currentIndex();
    if (index >= 0) {
        pages_[static_cast<size_t>(index)]->HandleReply();
    }
}

void TForm1::StartReplyTimer(int milliseconds) {
    replyTimer_.start(milliseconds);
}

void TForm1::ReplyTimerRanOut() {
    try {
        link_.ReplyTimeout();
    } catch (const std::exception& e) {
        ShowErrorMessage(QString::fromLocal8Bit(e.what()), this);
    }
}

void TForm1::HangUp() {
    const std::string reason = port_->LostReason();
    LoseLine(reason);
    if (lossReported_) {
        // Another try that did not reach the device: still the same loss.
        return;
    }
    lossReported_ = true;
    // A network device that never connected failed to open, only later.
    if (reason.rfind("Unable to open", 0) == 0) {
        SetStatusText(kPanelLink, kTextConnectFail);
        ShowErrorMessage(QString::fromLocal8Bit(reason.c_str()), this);
    } else {
        SetStatusText(kPanelLink, kTextDeviceLost);
    }
}

void TForm1::LoseLine(const std::string& why) {
    replyTimer_.stop();
    connectTimer_.stop();
    if (port_->IsOpen()) {
        port_->Close();
    }
    link_.PortLost(why);
    cursor_.Restore();
    linkUp_ = false;
    UpdatePageControl();
    reconnectTimer_.start();
}

void TForm1::PortsChanged() {
    bool added = false;
    TPortChange change;
    while (options_.portMonitor->Read(change)) {
        added = added || change.added;
    }
    // A device came: if it is the one being looked for, the link is back now
    // rather than at the next poll.
    if (added && reconnectTimer_.isActive()) {
        ReconnectTimerRanOut();
    }
    ShowDeviceInTitle(Ports());
    if (portMenu_->isVisible()) {
        FillPortMenu();
    }
}

void TForm1::ReconnectTimerRanOut() {
    const std::string shown = panels_[kPanelLink]->text().toStdString();
    if (TryOpen(false) && port_->IsOpen()) {
        reconnectTimer_.stop();
        if (IsNetDeviceName(device_)) {
            // Open, but not connected yet: the loss stands until the camera
            // answers.
            SetStatusText(kPanelLink, shown);
        }
        CheckLinkOnceConnected();
    }
}

void TForm1::CheckLinkOnceConnected() {
    if (port_->IsOpen() && port_->Connecting()) {
        if (!connectTimer_.isActive()) {
            connectTimer_.start();
            // The port is open, the connection not made yet; a loss being
            // retried stays as it was told.
            if (!lossReported_) {
                SetStatusText(kPanelLink, kTextConnecting);
            }
        }
        return;
    }
    // A connection that fails meanwhile is a hang-up, which stops the wait.
    connectTimer_.stop();
    if (port_->LostReason().empty()) {
        // The device is there again: losing it now is a new loss, told.
        lossReported_ = false;
    }
    link_.CheckLink();
}

void TForm1::Reconnect() {
    if (AfterPauseIfPausing(this, [](TForm1* form) { form->Reconnect(); })) {
        return;
    }
    // A save or load stops once the link is checked again.
    transfer_->Cancel();
    lossReported_ = false;
    const bool lookingAgain = reconnectTimer_.isActive();
    reconnectTimer_.stop();
    replyTimer_.stop();
    connectTimer_.stop();
    SetStatusText(kPanelLink, kTextConnecting);
    if (TryOpen(true)) {
        CheckLinkOnceConnected();
        return;
    }
    // The old line is closed and no new one opened: nothing on its way will
    // be answered, and the device is looked for once a second.
    LoseLine();
    SetStatusText(kPanelLink, lookingAgain ? kTextDeviceLost : kTextConnectFail);
}

}  // namespace zp
