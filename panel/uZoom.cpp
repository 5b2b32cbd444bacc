#include "uZoom.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>

#include "lens_page.h"
#include "pages.h"

namespace zp {

TForm1::TForm1(std::unique_ptr<IPanelPort> port, TStartOptions options, QWidget* parent)
    : QMainWindow(parent),
      port_(std::move(port)),
      options_(options),
      link_(*port_, *this, options_.pause) {
    setObjectName("Form1");
    setWindowTitle("26x Zoom");
    BuildLayout();

    port_->SetOnRxChar([this](int32_t count) { Comm1RxChar(this, count); });
    port_->SetOnHangUp([this] { HangUp(); });

    replyTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, &TForm1::ReplyTimerRanOut);
    reconnectTimer_.setInterval(kReconnectIntervalMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &TForm1::ReconnectTimerRanOut);

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
            for (const char* text : {kTextConnecting, kTextConnectFail, kTextLinkOk, kTextRetry,
                                     kTextNoAnswer, kTextNoCamera, kTextDeviceLost}) {
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
    // F5 reconnects from anywhere; the button shows while the link is not up.
    auto* reconnectKey = new QAction(this);
    reconnectKey->setShortcut(QKeySequence(Qt::Key_F5));
    connect(reconnectKey, &QAction::triggered, this, &TForm1::Reconnect);
    addAction(reconnectKey);

    // 640 x 480, or wider where the three panels and Reconnect need it.
    resize(std::max(640, bar->minimumSizeHint().width()), 480);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TForm1::FormCreate() {
    {
        const QSignalBlocker block(PageControl1);
        PageControl1->setCurrentIndex(0);
    }
    shownIndex_ = 0;
    SetStatusText(kPanelLink, kTextConnecting);
    // Only a raised error skips the link check; a port that stayed shut
    // swallows it and the time-out reports "No camera found".
    if (!TryOpen(true)) {
        return;
    }
    link_.CheckLink();
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
    if (!exists || allowed) {
        return message;
    }
    return message + QString(
                         "\n\nYou are not allowed to use %1. Its group is '%2': add yourself "
                         "to it (sudo adduser $USER %2), then log in again.")
                         .arg(path, group);
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
    // A zoom or focus still held stops before the line closes, and its stop
    // may leave before the rest of the output is dropped.
    for (TMotionButton* b : findChildren<TMotionButton*>()) {
        b->EndHold();
    }
    replyTimer_.stop();
    reconnectTimer_.stop();
    if (port_->IsOpen()) {
        port_->WaitSent(kCloseFlushMs);
        port_->Close();
    }
    cursor_.Restore();
}

void TForm1::PageControl1Changing(QObject*, bool& allowChange) {
    if (!link_.CanSend()) {
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
    }
}

void TForm1::ReportError(const std::string& text) {
    ShowErrorMessage(QString::fromLocal8Bit(text.c_str()), this);
}

void TForm1::EnablePageControl() {
    PageControl1->setEnabled(true);
}

void TForm1::QueryActivePage() {
    const int index = PageControl1->currentIndex();
    if (index >= 0) {
        pages_[static_cast<size_t>(index)]->Query();
    }
}

void TForm1::RouteReplyToPage() {
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
    LoseLine();
    SetStatusText(kPanelLink, kTextDeviceLost);
}

void TForm1::LoseLine() {
    replyTimer_.stop();
    if (port_->IsOpen()) {
        port_->Close();
    }
    link_.PortLost();
    cursor_.Restore();
    PageControl1->setEnabled(false);
    reconnectTimer_.start();
}

void TForm1::ReconnectTimerRanOut() {
    if (TryOpen(false) && port_->IsOpen()) {
        reconnectTimer_.stop();
        link_.CheckLink();
    }
}

void TForm1::Reconnect() {
    const bool lookingAgain = reconnectTimer_.isActive();
    reconnectTimer_.stop();
    replyTimer_.stop();
    SetStatusText(kPanelLink, kTextConnecting);
    if (TryOpen(true)) {
        link_.CheckLink();
        return;
    }
    // The old line is closed and no new one opened: nothing on its way will
    // be answered, and the device is looked for once a second.
    LoseLine();
    SetStatusText(kPanelLink, lookingAgain ? kTextDeviceLost : kTextConnectFail);
}

}  // namespace zp
