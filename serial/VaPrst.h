// The settings sub-objects of the serial component. Each notifies its owner
// through one change handler; BeginUpdate/EndUpdate fold several changes into
// one notification.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>

#include "serial/comm_types.h"

namespace zp {

class TVaPersistent;
using TVaChangeEvent = std::function<void(TVaPersistent* sender)>;

// The framework's standard assignment error: a copy between different classes.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TVaPersistent {
  public:
    explicit TVaPersistent(TVaChangeEvent onChange = nullptr) : OnChange(std::move(onChange)) {}
    TVaPersistent(const TVaPersistent&) = delete;
    TVaPersistent& operator=(const TVaPersistent&) = delete;
    virtual ~TVaPersistent() = default;

    void BeginUpdate() { ++UpdateCount; }
    void EndUpdate();
    void Changed();

    // Copies the values of another object of the same class; any other
    // class raises EConvertError.
    virtual void CopyFrom(const TVaPersistent& source);
    virtual const char* ClassName() const { return "TVaPersistent"; }

    int32_t UpdateCount = 0;
    TVaChangeEvent OnChange;
};

class TVaFlowControl : public TVaPersistent {
  public:
    using TVaPersistent::TVaPersistent;

    bool OutCtsFlow() const { return outCtsFlow_; }
    bool OutDsrFlow() const { return outDsrFlow_; }
    TVaControlDtr ControlDtr() const { return controlDtr_; }
    TVaControlRts ControlRts() const { return controlRts_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }

    void SetOutCtsFlow(bool v) { Set(outCtsFlow_, v); }
    void SetOutDsrFlow(bool v) { Set(outDsrFlow_, v); }
    void SetControlDtr(TVaControlDtr v) { Set(controlDtr_, v); }
    void SetControlRts(TVaControlRts v) { Set(controlRts_, v); }
    void SetXonXoffOut(bool v) { Set(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Set(xonXoffIn_, v); }
    void SetDsrSensitivity(bool v) { Set(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Set(txContinueOnXoff_, v); }

    void CopyFrom(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaFlowControl"; }

  private:
    template <typename T>
    void Set(T& field, T v) {
        if (field != v) {
            field = v;
            Changed();
        }
    }
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TVaControlDtr controlDtr_ = dtrDisabled;
    TVaControlRts controlRts_ = rtsDisabled;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
};

class TVaEventChars : public TVaPersistent {
  public:
    using TVaPersistent::TVaPersistent;

    // Property indexes of the shared setter, in table order.
    enum : int { kXonChar = 1, kXoffChar, kErrorChar, kEventChar, kEofChar };

    uint8_t XonChar() const { return chars_[0]; }
    uint8_t XoffChar() const { return chars_[1]; }
    uint8_t ErrorChar() const { return chars_[2]; }
    uint8_t EventChar() const { return chars_[3]; }
    uint8_t EofChar() const { return chars_[4]; }

    void SetXonChar(uint8_t v) { SetChar(kXonChar, v); }
    void SetXoffChar(uint8_t v) { SetChar(kXoffChar, v); }
    void SetErrorChar(uint8_t v) { SetChar(kErrorChar, v); }
    void SetEventChar(uint8_t v) { SetChar(kEventChar, v); }
    void SetEofChar(uint8_t v) { SetChar(kEofChar, v); }
    // Stores and notifies every time, also when the value is unchanged, so
    // an open port always gets its line settings written again.
    void SetChar(int index, uint8_t v);

    void CopyFrom(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaEventChars"; }

  private:
    uint8_t chars_[5] = {17, 19, 0, 0, 0};
};

class TVaBuffers : public TVaPersistent {
  public:
    using TVaPersistent::TVaPersistent;

    int32_t ReadSize() const { return readSize_; }
    int32_t WriteSize() const { return writeSize_; }
    // Plain values: they may change while open and bound the next wait.
    int32_t ReadTimeout() const { return readTimeout_; }
    int32_t WriteTimeout() const { return writeTimeout_; }

    // Store and notify when different. When the owner refuses the change
    // (a size cannot change while the port is open), the old value is kept.
    void SetReadSize(int32_t v);
    void SetWriteSize(int32_t v);
    void SetReadTimeout(int32_t v) { readTimeout_ = Clamp(v); }
    void SetWriteTimeout(int32_t v) { writeTimeout_ = Clamp(v); }

    void CopyFrom(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaBuffers"; }

  private:
    // TVaIntW is 0..2147483647.
    static int32_t Clamp(int32_t v) { return v < 0 ? 0 : v; }
    void SetSize(int32_t& field, int32_t v);
    int32_t readSize_ = 4096;
    int32_t writeSize_ = 2048;
    int32_t readTimeout_ = 1000;
    int32_t writeTimeout_ = 1000;
};

}  // namespace zp
