// The serial port component: settings, open and close, reads and writes,
// the event thread that announces received bytes and line events, and the
// write thread that sends queued output.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/VaClasses.h"
#include "serial/VaObjects.h"
#include "serial/VaPrst.h"
#include "serial/comm_buffer.h"
#include "serial/comm_types.h"
#include "serial/main_thread.h"
#include "serial/platform/port_device.h"

namespace zp {

class EVaCommError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Result of GetStatistics; all zero while closed.
struct CommStatistics {
    uint32_t Errors = 0;    // line-error flags (CE_...), cleared by the query
    uint32_t Flags = 0;     // status flags
    uint32_t InQueue = 0;   // bytes waiting to be read
    uint32_t OutQueue = 0;  // bytes waiting to be sent
};

using TNotifyEvent = std::function<void(TVaComponent* sender)>;
using TVaCommErrorEvent = std::function<void(TVaComponent* sender, uint32_t errors)>;
using TVaCommRxCharEvent = std::function<void(TVaComponent* sender, int32_t count)>;
using PVaData = const uint8_t*;
using TVaCommRxBufEvent = std::function<void(TVaComponent* sender, PVaData data, int32_t count)>;

class TVaCustomComm;

// Receiver of a link: gets the event masks and received blocks of the port.
class TVaLinkTarget {
  public:
    virtual ~TVaLinkTarget() = default;
    virtual void LinkEvents(uint32_t mask) = 0;
    virtual void LinkRxBuf(PVaData data, int32_t count) = 0;
};

struct TVaCommLink {
    bool Active = true;
    TVaCustomComm* Comm = nullptr;
    TVaLinkTarget* Target = nullptr;
};

// Both locks outlive the component while a worker still holds them.
struct TVaCommLocks {
    TVaCriticalSection ReadLock;
    TVaCriticalSection WriteLock;
};

// Everything of one open port that the component and its workers share. A
// worker keeps it alive after Close, so nothing it touches is freed under it.
struct TVaPortSession;

class TVaCommEventThread;
class TVaCommWriteThread;

// What the worker threads may ask of the component: its dispatch, always in
// the main thread, through the worker's synchronised call.
class ICommSink {
  public:
    virtual void DoRxChar() = 0;
    virtual void DoEvents(uint32_t mask) = 0;

  protected:
    ~ICommSink() = default;
};

class TVaCustomComm : public TVaComponent, private ICommSink {
  public:
    explicit TVaCustomComm(TVaComponent* owner = nullptr);
    ~TVaCustomComm() override;

    // Published settings.
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate v);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity v);
    bool ParityCheck() const { return parityCheck_; }
    void SetParityCheck(bool v);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits v);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits v);
    TVaEventChars& EventChars() { return *eventChars_; }
    const TVaEventChars& EventChars() const { return *eventChars_; }
    void SetEventChars(const TVaEventChars& v) { eventChars_->CopyFrom(v); }
    TVaFlowControl& FlowControl() { return *flowControl_; }
    const TVaFlowControl& FlowControl() const { return *flowControl_; }
    void SetFlowControl(const TVaFlowControl& v) { flowControl_->CopyFrom(v); }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions v);
    int32_t PortNum() const { return portNum_; }
    void SetPortNum(int32_t v);
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& v);
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents v);
    TVaBuffers& Buffers() { return *buffers_; }
    const TVaBuffers& Buffers() const { return *buffers_; }
    void SetBuffers(const TVaBuffers& v);
    TThreadPriority EventPriority() const { return eventPriority_; }
    void SetEventPriority(TThreadPriority v);
    TThreadPriority WritePriority() const { return writePriority_; }
    void SetWritePriority(TThreadPriority v);
    bool DirectWrite() const { return directWrite_; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return updateDcb_; }
    void SetUpdateDCB(bool v);
    int32_t UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int32_t v);

    // Published events; assign to handle.
    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;
    TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

    // The device name after formatting DeviceName with PortNum ("COM1").
    std::string DeviceText() const;

    void Open();
    void Close();
    bool IsOpen() const { return handle_ != -1; }
    // The open port's descriptor, -1 while closed.
    int Handle() const { return handle_; }
    // Why the open line was lost, as an error message ("Unable to open
    // specified device rfc2217://host:2000 (111), Connection refused" for a
    // network device that never connected); empty while it is not lost.
    std::string LostReason() const;
    // A network device still connecting: its camera cannot answer yet.
    bool Connecting() const;
    // A network serial server's answer to one of the line settings (RFC 2217
    // command number, the value as answered); false when none came.
    bool Acknowledged(uint8_t command, std::vector<uint8_t>& value) const;

    int32_t TransmitData(const void* data, int32_t count);
    bool TransmitByte(uint8_t b);
    int32_t ReceiveData(void* data, int32_t count);
    std::string ReceivePending();
    void GetStatistics(CommStatistics& stats);
    // Bytes waiting; leaves the error flags for GetStatistics.
    int32_t InputCount();
    void ApplyLineSettings();

    void CheckNotOpen();
    [[noreturn]] void RaiseCommError(const std::string& format);
    [[noreturn]] void RaiseCommError(const std::string& format, int code);
    void CheckCommResult(bool ok, const std::string& format);

    // Platform event bits computed at Open from MonitorEvents.
    uint32_t EventMask() const { return eventMask_; }
    TVaCriticalSection& ReadLock() { return locks_->ReadLock; }
    TVaCriticalSection& WriteLock() { return locks_->WriteLock; }
    bool EventThreadRunning() const { return eventThread_ != nullptr; }
    bool WriteThreadRunning() const { return writeThread_ != nullptr; }

    // Dispatch, main thread only.
    void DoRxChar() override;
    void DoEvents(uint32_t mask) override;
    virtual void DoLinkEvents(uint32_t mask);
    virtual void DoRxBuf(PVaData data, int32_t count);
    void DoError();

    // Links: attached in order, detached by the destructor last to first.
    void AttachLink(TVaCommLink* link);
    void DetachLink(TVaCommLink* link);
    const std::vector<TVaCommLink*>& Links() const { return links_; }
    bool LinksEnabled = true;

    // The line-settings record for the current settings.
    DCB BuildDcb() const;
    // How many times line settings have been written to a port.
    uint32_t DcbWrites() const { return dcbWrites_; }

  protected:
    void Loaded() override;
    virtual void OpenDevice();
    // Opens the platform device at path: 0 and device, or an errno. Tests
    // put a device with line events of their choosing here.
    virtual int OpenPlatformDevice(const std::string& path, TPortDevicePtr& device);
    virtual void StartThreads();
    void StopThreads();
    void CloseDevice();
    void SetupBuffers();
    void SetupTimeouts();
    void SetupEventMask();
    void DoOpen();
    void DoClose();

  private:
    void LineSettingChanged() { ApplyLineSettings(); }
    // full: also the output count, and the error flags are handed over and
    // cleared; otherwise only the input count, and the flags stay pending.
    void CollectStatistics(CommStatistics& stats, bool full);
    // Moves up to count bytes out of the input queue. ReadLock held, open.
    int32_t TakeInput(void* data, int32_t count);

    bool autoOpen_ = false;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    bool parityCheck_ = false;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    std::unique_ptr<TVaEventChars> eventChars_;
    std::unique_ptr<TVaFlowControl> flowControl_;
    TVaCommOptions options_;
    int32_t portNum_ = 0;
    std::string deviceName_ = "COM%d";
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    std::unique_ptr<TVaBuffers> buffers_;
    TThreadPriority eventPriority_ = tpNormal;
    TThreadPriority writePriority_ = tpHighest;
    bool directWrite_ = false;
    bool updateDcb_ = true;
    int32_t userBaudrate_ = 0;

    int handle_ = -1;
    std::shared_ptr<TVaCommLocks> locks_;
    std::shared_ptr<TVaPortSession> session_;
    std::shared_ptr<TVaCommEventThread> eventThread_;
    std::shared_ptr<TVaCommWriteThread> writeThread_;
    uint32_t eventMask_ = 0;
    uint32_t dcbWrites_ = 0;
    std::vector<TVaCommLink*> links_;
};

// The same class with its settings published.
class TVaComm : public TVaCustomComm {
  public:
    using TVaCustomComm::TVaCustomComm;
};

// Fills a message format: %d and %s take the next argument in turn, %% is a
// percent sign; surplus arguments are ignored and a placeholder without an
// argument stays as written. Never reads past the arguments given.
struct TFormatArg {
    TFormatArg(long long n) : isText(false), number(n) {}            // NOLINT: implicit by design
    TFormatArg(int n) : isText(false), number(n) {}                  // NOLINT
    TFormatArg(std::string s) : isText(true), text(std::move(s)) {}  // NOLINT
    TFormatArg(const char* s) : isText(true), text(s) {}             // NOLINT
    bool isText;
    long long number = 0;
    std::string text;
};
std::string FormatText(const std::string& format, const std::vector<TFormatArg>& args);

// The system's text for an errno.
std::string ErrorText(int code);

// Number of worker threads of any component that have not ended yet.
int LiveCommThreads();

}  // namespace zp
