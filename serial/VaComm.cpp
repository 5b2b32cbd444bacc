#include "serial/VaComm.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "serial/comm_session.h"

namespace zp {

namespace {

const char kNotWhileOpen[] = "Can't perform this operation while port is open";
const char kOutputFull[] = "Output buffer is full. Please check comm status.";
const char kBuffersError[] = "Error initializing buffers (%d), %s";
const char kOpenError[] = "Unable to open specified device %s (%d), %s";
const char kReadError[] = "Read error (%d), %s";
const char kThreadError[] = "Error creating thread (%d), %s";

}  // namespace

std::string ErrorText(int code) {
    char buf[256];
    // The GNU variant returns the text, which may or may not live in buf.
    return strerror_r(code, buf, sizeof buf);
}

std::string FormatText(const std::string& format, const std::vector<TFormatArg>& args) {
    std::string out;
    out.reserve(format.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const char k = format[i + 1];
        if (k == '%') {
            out += '%';
            ++i;
        } else if ((k == 'd' || k == 's') && next < args.size()) {
            const TFormatArg& a = args[next++];
            out += a.isText ? a.text : std::to_string(a.number);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// ---- construction ----

TVaCustomComm::TVaCustomComm(TVaComponent* owner)
    : TVaComponent(owner),
      eventChars_(std::make_unique<TVaEventChars>([this](TVaPersistent*) { ApplyLineSettings(); })),
      flowControl_(
          std::make_unique<TVaFlowControl>([this](TVaPersistent*) { ApplyLineSettings(); })),
      buffers_(std::make_unique<TVaBuffers>([this](TVaPersistent*) { CheckNotOpen(); })),
      locks_(std::make_shared<TVaCommLocks>()) {}

TVaCustomComm::~TVaCustomComm() {
    SetDestroying();
    try {
        Close();
    } catch (...) {
        // Closing cannot fail once destroying (no OnClose); nothing to report.
    }
    while (!links_.empty()) {
        DetachLink(links_.back());
    }
}

void TVaCustomComm::Loaded() {
    TVaComponent::Loaded();
    if (!InState(csDesigning) && autoOpen_) {
        Open();
    }
}

// ---- setters ----

void TVaCustomComm::SetBaudrate(TVaBaudrate v) {
    if (v == baudrate_) {
        return;
    }
    baudrate_ = v;
    if (v != brUser) {
        userBaudrate_ = 0;
    }
    ApplyLineSettings();
}

void TVaCustomComm::SetUserBaudrate(int32_t v) {
    if (v == userBaudrate_) {
        return;
    }
    userBaudrate_ = v;
    baudrate_ = brUser;
    ApplyLineSettings();
}

void TVaCustomComm::SetParity(TVaParity v) {
    if (v != parity_) {
        parity_ = v;
        ApplyLineSettings();
    }
}

void TVaCustomComm::SetParityCheck(bool v) {
    if (v != parityCheck_) {
        parityCheck_ = v;
        ApplyLineSettings();
    }
}

void TVaCustomComm::SetDatabits(TVaDatabits v) {
    if (v != databits_) {
        databits_ = v;
        ApplyLineSettings();
    }
}

void TVaCustomComm::SetStopbits(TVaStopbits v) {
    if (v != stopbits_) {
        stopbits_ = v;
        ApplyLineSettings();
    }
}

void TVaCustomComm::SetOptions(TVaCommOptions v) {
    if (v != options_) {
        options_ = v;
        ApplyLineSettings();
    }
}

void TVaCustomComm::SetPortNum(int32_t v) {
    CheckNotOpen();
    portNum_ = std::max<int32_t>(v, 0);
}

void TVaCustomComm::SetDeviceName(const std::string& v) {
    CheckNotOpen();
    deviceName_ = v;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents v) {
    CheckNotOpen();
    monitorEvents_ = v;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& v) {
    CheckNotOpen();
    buffers_->CopyFrom(v);
}

void TVaCustomComm::SetEventPriority(TThreadPriority v) {
    if (v != eventPriority_) {
        eventPriority_ = v;
        if (eventThread_) {
            eventThread_->SetPriority(v);
        }
    }
}

void TVaCustomComm::SetWritePriority(TThreadPriority v) {
    if (v != writePriority_) {
        writePriority_ = v;
        if (writeThread_) {
            writeThread_->SetPriority(v);
        }
    }
}

void TVaCustomComm::SetDirectWrite(bool v) {
    CheckNotOpen();
    directWrite_ = v;
}

void TVaCustomComm::SetUpdateDCB(bool v) {
    CheckNotOpen();
    updateDcb_ = v;
}

std::string TVaCustomComm::DeviceText() const {
    return FormatText(deviceName_, {portNum_});
}

// ---- errors ----

void TVaCustomComm::CheckNotOpen() {
    if (IsOpen()) {
        throw EVaCommError(kNotWhileOpen);
    }
}

void TVaCustomComm::RaiseCommError(const std::string& format) {
    RaiseCommError(format, errno);
}

void TVaCustomComm::RaiseCommError(const std::string& format, int code) {
    throw EVaCommError(FormatText(format, {code, ErrorText(code)}));
}

void TVaCustomComm::CheckCommResult(bool ok, const std::string& format) {
    if (!ok) {
        RaiseCommError(format);
    }
}

// ---- line settings ----

DCB TVaCustomComm::BuildDcb() const {
    DCB d;
    d.DCBlength = sizeof(DCB);
    if (baudrate_ == brUser) {
        d.BaudRate = userBaudrate_ > 0 ? static_cast<uint32_t>(userBaudrate_) : 0;
    } else {
        d.BaudRate = BaudrateValue(baudrate_);
    }
    d.ByteSize = static_cast<uint8_t>(4 + static_cast<int>(databits_));
    d.Parity = static_cast<uint8_t>(parity_);
    d.StopBits = static_cast<uint8_t>(stopbits_);
    d.XonChar = eventChars_->XonChar();
    d.XoffChar = eventChars_->XoffChar();
    d.ErrorChar = eventChars_->ErrorChar();
    d.EofChar = eventChars_->EofChar();
    d.EvtChar = eventChars_->EventChar();
    const int32_t lim = std::min<int32_t>(buffers_->ReadSize() / 4, 1024);
    d.XonLim = static_cast<uint16_t>(lim);
    d.XoffLim = static_cast<uint16_t>(lim);

    const TVaFlowControl& fc = *flowControl_;
    uint32_t f = fBinary;
    if (parityCheck_) {
        f |= fParity;
    }
    if (fc.OutCtsFlow()) {
        f |= fOutxCtsFlow;
    }
    if (fc.OutDsrFlow()) {
        f |= fOutxDsrFlow;
    }
    if (fc.ControlDtr() == dtrEnabled) {
        f |= fDtrControlEnable;
    } else if (fc.ControlDtr() == dtrHandshake) {
        f |= fDtrControlHandshake;
    }
    if (fc.DsrSensitivity()) {
        f |= fDsrSensitivity;
    }
    if (fc.TxContinueOnXoff()) {
        f |= fTXContinueOnXoff;
    }
    if (fc.XonXoffOut()) {
        f |= fOutX;
    }
    if (fc.XonXoffIn()) {
        f |= fInX;
    }
    if (options_.Has(coErrorChar)) {
        f |= fErrorChar;
    }
    if (options_.Has(coNullStrip)) {
        f |= fNull;
    }
    switch (fc.ControlRts()) {
        case rtsEnabled:
            f |= fRtsControlEnable;
            break;
        case rtsHandshake:
            f |= fRtsControlHandshake;
            break;
        case rtsToggle:
            f |= fRtsControlToggle;
            break;
        default:
            break;
    }
    d.Flags = f;
    return d;
}

void TVaCustomComm::ApplyLineSettings() {
    if (!IsOpen() || !updateDcb_) {
        return;
    }
    const DCB dcb = BuildDcb();
    TTermiosPlan plan;
    int e = TranslateDcb(dcb, plan);
    if (e == 0) {
        e = session_->Device->Apply(plan);
    }
    if (e != 0) {
        RaiseCommError("Error writing dcb (%d), %s", e);
    }
    ++dcbWrites_;
    TVaLockGuard g(ReadLock());
    session_->NullStrip = (dcb.Flags & fNull) != 0;
    session_->EvtChar = dcb.EvtChar;
}

// ---- open and close ----

void TVaCustomComm::Open() {
    CheckNotOpen();
    // Whatever fails, the port ends up closed with no worker left, and the
    // caller gets an EVaCommError.
    const auto undo = [this] {
        StopThreads();
        CloseDevice();
    };
    try {
        OpenDevice();
        ApplyLineSettings();
        SetupBuffers();
        SetupTimeouts();
        SetupEventMask();
        StartThreads();
    } catch (const EVaCommError&) {
        undo();
        throw;
    } catch (const std::bad_alloc&) {
        undo();
        RaiseCommError(kBuffersError, ENOMEM);
    } catch (const std::system_error& e) {
        undo();
        RaiseCommError(kBuffersError, e.code().value());
    } catch (...) {
        undo();
        throw;
    }
    DoOpen();
}

void TVaCustomComm::OpenDevice() {
    const std::string name = DeviceText();
    TPortDevicePtr dev;
    int e = OpenPlatformDevice(DevicePath(name), dev);
    if (e == 0) {
        // Raw even when the line settings are left to the driver: a cooked
        // tty would echo and edit the camera's bytes.
        e = dev->MakeRaw();
    }
    if (e != 0) {
        throw EVaCommError(FormatText(kOpenError, {name, e, ErrorText(e)}));
    }
    auto s = std::make_shared<TVaPortSession>();
    s->Device = std::move(dev);
    s->Locks = locks_;
    session_ = std::move(s);
    handle_ = session_->Device->Fd();
}

int TVaCustomComm::OpenPlatformDevice(const std::string& path, TPortDevicePtr& device) {
    return IsNetDeviceName(path) ? OpenNetDevice(path, device) : OpenTtyDevice(path, device);
}

std::string TVaCustomComm::LostReason() const {
    if (!session_) {
        return {};
    }
    int code = 0;
    std::string text;
    if (session_->Device->Failure(code, text)) {
        return FormatText(kOpenError, {DeviceText(), code, text.empty() ? ErrorText(code) : text});
    }
    if (session_->HungUp.load(std::memory_order_acquire)) {
        return FormatText(kReadError, {session_->HangupErrno, ErrorText(session_->HangupErrno)});
    }
    return {};
}

bool TVaCustomComm::Connecting() const {
    return session_ && session_->Device->Connecting();
}

bool TVaCustomComm::Acknowledged(uint8_t command, std::vector<uint8_t>& value) const {
    return session_ && session_->Device->Acknowledged(command, value);
}

void TVaCustomComm::SetupBuffers() {
    if (!IsOpen()) {
        return;
    }
    if (buffers_->ReadSize() <= 0 || buffers_->WriteSize() <= 0) {
        // A queue of no bytes could never receive or send anything.
        RaiseCommError(kBuffersError, EINVAL);
    }
    if (session_->Kick.Handle() < 0) {
        // Without it a full input queue would never be read again.
        RaiseCommError(kBuffersError, static_cast<int>(session_->Kick.LastError()));
    }
    std::unique_ptr<TVaCommBuffer> input;
    try {
        input = std::make_unique<TVaCommBuffer>(buffers_->ReadSize());
    } catch (const std::bad_alloc&) {
        RaiseCommError(kBuffersError, ENOMEM);
    }
    const DCB dcb = BuildDcb();
    TVaLockGuard g(ReadLock());
    session_->Input = std::move(input);
    session_->NullStrip = (dcb.Flags & fNull) != 0;
    session_->EvtChar = dcb.EvtChar;
    session_->HaveCounters = session_->Device->GetCounters(session_->Counters) == 0;
}

void TVaCustomComm::SetupTimeouts() {
    // Reads return at once with what has arrived: the descriptor is
    // non-blocking, so there is nothing to give the driver.
}

void TVaCustomComm::SetupEventMask() {
    eventMask_ = CommEventMask(monitorEvents_);
    if (!directWrite_) {
        eventMask_ &= ~EV_TXEMPTY;
    }
}

void TVaCustomComm::StartThreads() {
    // A worker without its events would sleep through its wake-ups, and one
    // that never started would leave queued bytes unsent: both fail the open.
    const auto start = [this](TCommWorker& worker, TThreadPriority priority) {
        if (const int e = worker.InitError(); e != 0) {
            RaiseCommError(kBuffersError, e);
        }
        try {
            worker.Start(priority);
        } catch (const std::system_error& ex) {
            RaiseCommError(kThreadError, ex.code().value());
        }
    };
    ICommSink& sink = *this;
    session_->EventThreadReports = eventMask_ != 0;
    if (eventMask_ != 0) {
        eventThread_ = std::make_shared<TVaCommEventThread>(sink, session_, eventMask_);
        start(*eventThread_, eventPriority_);
    }
    if (!directWrite_) {
        writeThread_ = std::make_shared<TVaCommWriteThread>(sink, session_, buffers_->WriteSize());
        start(*writeThread_, writePriority_);
    }
}

void TVaCustomComm::StopThreads() {
    if (session_) {
        // Calls of this port not yet run are dropped, and a worker waiting
        // for one is released: nothing keeps it from seeing Stop.
        session_->Token->Cancel();
    }
    if (eventThread_) {
        eventThread_->Stop();
    }
    if (writeThread_) {
        writeThread_->Stop();
    }
    // Both told first, so they wind down together.
    if (eventThread_) {
        eventThread_->End();
        eventThread_.reset();
    }
    if (writeThread_) {
        writeThread_->End();
        writeThread_.reset();
    }
}

void TVaCustomComm::CloseDevice() {
    if (session_) {
        session_->Device->Release();
        session_.reset();
    }
    handle_ = -1;
}

void TVaCustomComm::DoOpen() {
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
            ShowException(std::current_exception());
        }
    }
}

void TVaCustomComm::DoClose() {
    if (OnClose && !InState(csDestroying)) {
        OnClose(this);
    }
}

void TVaCustomComm::Close() {
    if (!IsOpen()) {
        return;
    }
    // Without ReadLock: StopThreads waits for the event thread, which takes
    // it. Only the main thread starts and stops the workers.
    StopThreads();
    // No worker touches the device any more (a worker whose call is running
    // above us stops before its next look at it), so the claim can go now.
    CloseDevice();
    DoClose();
}

// ---- I/O ----

int32_t TVaCustomComm::TransmitData(const void* data, int32_t count) {
    if (!IsOpen() || count <= 0 || data == nullptr) {
        return 0;
    }
    TVaPortSession& s = *session_;
    if (!directWrite_) {
        if (s.HungUp.load(std::memory_order_acquire)) {
            // Queuing bytes for a device that is gone would report success
            // for data that can never leave.
            RaiseCommError("Write error (%d), %s", s.HangupErrno);
        }
        if (!writeThread_->Enqueue(data, count, static_cast<uint32_t>(buffers_->WriteTimeout()))) {
            throw EVaCommError(kOutputFull);
        }
        return count;
    }

    TVaLockGuard g(WriteLock());
    const auto* bytes = static_cast<const uint8_t*>(data);
    int32_t done = 0;
    const Deadline d(static_cast<uint32_t>(buffers_->ReadTimeout()));
    while (done < count) {
        const ssize_t w = s.Device->Write(bytes + done, static_cast<size_t>(count - done));
        if (w > 0) {
            done += static_cast<int32_t>(w);
            continue;
        }
        const int e = w == 0 ? EAGAIN : errno;
        if (e == EINTR) {
            continue;
        }
        if (e == EAGAIN) {
            if (d.Expired()) {
                break;
            }
            pollfd p{s.Device->Fd(), POLLOUT, 0};
            PollFor(&p, 1, d.Remaining());
            continue;
        }
        if (done == 0) {
            RaiseCommError("Write error (%d), %s", e);
        }
        break;
    }
    if (done > 0 && (eventMask_ & EV_TXEMPTY) != 0) {
        s.TxWatch.store(true, std::memory_order_release);
        s.Kick.SetEvent();
    }
    return done;
}

bool TVaCustomComm::TransmitByte(uint8_t b) {
    return TransmitData(&b, 1) == 1;
}

int32_t TVaCustomComm::ReceiveData(void* data, int32_t count) {
    if (!IsOpen() || count <= 0 || data == nullptr) {
        return 0;
    }
    TVaLockGuard g(ReadLock());
    TVaPortSession& s = *session_;
    s.FillForReader();
    if (s.Input->Size() == 0) {
        if (s.HungUp.load(std::memory_order_acquire)) {
            RaiseCommError(kReadError, s.HangupErrno);
        }
        if (s.ReadErrno != 0) {
            const int e = s.ReadErrno;
            s.ReadErrno = 0;
            RaiseCommError(kReadError, e);
        }
        return 0;
    }
    return TakeInput(data, count);
}

int32_t TVaCustomComm::TakeInput(void* data, int32_t count) {
    TVaPortSession& s = *session_;
    TVaCommBuffer& in = *s.Input;
    const bool wasFull = in.Free() == 0;
    const int32_t n = std::min(count, in.Size());
    std::memcpy(data, in.Storage(), static_cast<size_t>(n));
    in.Remove(n);
    if (wasFull && s.WaitsForRoom) {
        // The event thread stopped reading the device while the queue was full.
        s.Kick.SetEvent();
    }
    return n;
}

std::string TVaCustomComm::ReceivePending() {
    if (!IsOpen()) {
        return std::string();
    }
    // One look at the device: the count has just taken in what was there.
    TVaLockGuard g(ReadLock());
    const int32_t n = InputCount();
    if (n <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(n), '\0');
    text.resize(static_cast<size_t>(TakeInput(text.data(), n)));
    return text;
}

void TVaCustomComm::GetStatistics(CommStatistics& stats) {
    CollectStatistics(stats, true);
}

void TVaCustomComm::CollectStatistics(CommStatistics& stats, bool full) {
    TVaLockGuard g(ReadLock());
    stats = CommStatistics{};
    if (!IsOpen()) {
        return;
    }
    TVaPortSession& s = *session_;
    s.FillForReader();
    s.CollectLineErrors();
    if (s.ReadErrno != 0) {
        const int e = s.ReadErrno;
        s.ReadErrno = 0;
        RaiseCommError("Error retrieving statistics (%d), %s", e);
    }
    if (s.HungUp.load(std::memory_order_acquire) && !s.EventThreadReports &&
        !s.HangupClaimed.exchange(true)) {
        s.PendingErrors |= CE_HANGUP;
    }
    stats.InQueue = static_cast<uint32_t>(s.Input->Size());
    if (!full) {
        return;
    }
    stats.Errors = s.PendingErrors;
    s.PendingErrors = 0;
    int out = 0;
    if (s.Device->OutputPending(out) != 0 || out < 0) {
        out = 0;
    }
    stats.OutQueue = static_cast<uint32_t>(s.QueuedOut.load(std::memory_order_relaxed)) +
                     static_cast<uint32_t>(out);
}

int32_t TVaCustomComm::InputCount() {
    if (!IsOpen()) {
        return 0;
    }
    // The same query without the driver's output count, which costs a
    // system call on every receive batch, and without taking the error
    // flags: the receive dispatch counts before DoError runs, and would
    // otherwise swallow every line error that came with the bytes.
    CommStatistics st;
    CollectStatistics(st, false);
    return static_cast<int32_t>(st.InQueue);
}

// ---- dispatch ----

void TVaCustomComm::DoRxChar() {
    const int32_t count = InputCount();
    if (count <= 0) {
        return;
    }
    session_->ReaderEvents.fetch_and(~EV_RXCHAR, std::memory_order_acq_rel);
    if (!links_.empty()) {
        std::vector<uint8_t> block(static_cast<size_t>(count));
        const int32_t got = ReceiveData(block.data(), count);
        DoRxBuf(block.data(), got);
        return;
    }
    if (OnRxChar) {
        OnRxChar(this, count);
    }
}

void TVaCustomComm::DoEvents(uint32_t mask) {
    if ((mask & EV_ERR) != 0) {
        DoError();
    }
    if (!links_.empty()) {
        DoLinkEvents(mask);
    }
    const struct {
        uint32_t bit;
        TNotifyEvent TVaCustomComm::*handler;
    } kOrder[] = {
        {EV_RXFLAG, &TVaCustomComm::OnRxFlag},     {EV_CTS, &TVaCustomComm::OnCts},
        {EV_DSR, &TVaCustomComm::OnDsr},           {EV_RING, &TVaCustomComm::OnRing},
        {EV_RLSD, &TVaCustomComm::OnRlsd},         {EV_TXEMPTY, &TVaCustomComm::OnTxEmpty},
        {EV_BREAK, &TVaCustomComm::OnBreak},       {EV_PERR, &TVaCustomComm::OnPErr},
        {EV_RX80FULL, &TVaCustomComm::OnRx80Full}, {EV_EVENT1, &TVaCustomComm::OnEvent1},
        {EV_EVENT2, &TVaCustomComm::OnEvent2},
    };
    for (const auto& step : kOrder) {
        if ((mask & step.bit) != 0 && this->*step.handler) {
            (this->*step.handler)(this);
        }
    }
}

void TVaCustomComm::DoError() {
    CommStatistics st;
    GetStatistics(st);
    if (st.Errors != 0 && OnError) {
        try {
            OnError(this, st.Errors);
        } catch (...) {
            ShowException(std::current_exception());
        }
    }
}

void TVaCustomComm::DoLinkEvents(uint32_t mask) {
    if (!LinksEnabled) {
        return;
    }
    for (TVaCommLink* link : links_) {
        if (link->Active && link->Target != nullptr) {
            link->Target->LinkEvents(mask);
        }
    }
}

void TVaCustomComm::DoRxBuf(PVaData data, int32_t count) {
    if (LinksEnabled) {
        for (TVaCommLink* link : links_) {
            if (link->Active && link->Target != nullptr) {
                link->Target->LinkRxBuf(data, count);
            }
        }
    }
    if (OnRxBuf) {
        OnRxBuf(this, data, count);
    }
}

void TVaCustomComm::AttachLink(TVaCommLink* link) {
    if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end()) {
        return;
    }
    link->Comm = this;
    links_.push_back(link);
}

void TVaCustomComm::DetachLink(TVaCommLink* link) {
    const auto it = std::find(links_.begin(), links_.end(), link);
    if (it != links_.end()) {
        (*it)->Comm = nullptr;
        links_.erase(it);
    }
}

}  // namespace zp
