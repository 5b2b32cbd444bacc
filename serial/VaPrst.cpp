#include "serial/VaPrst.h"

#include <string>

namespace zp {

void TVaPersistent::EndUpdate() {
    if (UpdateCount > 0) {
        --UpdateCount;
    }
    Changed();
}

void TVaPersistent::Changed() {
    if (UpdateCount == 0 && OnChange) {
        OnChange(this);
    }
}

void TVaPersistent::CopyFrom(const TVaPersistent& source) {
    throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " +
                        ClassName());
}

namespace {

// Runs body between BeginUpdate and EndUpdate, ending the update also when
// body throws. An exception from the final notification wins only when body
// itself succeeded.
template <typename F>
void InUpdate(TVaPersistent& p, F body) {
    p.BeginUpdate();
    try {
        body();
    } catch (...) {
        try {
            p.EndUpdate();
        } catch (...) {
        }
        throw;
    }
    p.EndUpdate();
}

}  // namespace

void TVaFlowControl::CopyFrom(const TVaPersistent& source) {
    const auto* s = dynamic_cast<const TVaFlowControl*>(&source);
    if (s == nullptr) {
        TVaPersistent::CopyFrom(source);
        return;
    }
    InUpdate(*this, [&] {
        SetOutCtsFlow(s->outCtsFlow_);
        SetOutDsrFlow(s->outDsrFlow_);
        SetControlDtr(s->controlDtr_);
        SetControlRts(s->controlRts_);
        SetXonXoffOut(s->xonXoffOut_);
        SetXonXoffIn(s->xonXoffIn_);
        SetDsrSensitivity(s->dsrSensitivity_);
        SetTxContinueOnXoff(s->txContinueOnXoff_);
    });
}

void TVaEventChars::SetChar(int index, uint8_t v) {
    if (index < kXonChar || index > kEofChar) {
        return;
    }
    chars_[index - 1] = v;
    Changed();
}

void TVaEventChars::CopyFrom(const TVaPersistent& source) {
    const auto* s = dynamic_cast<const TVaEventChars*>(&source);
    if (s == nullptr) {
        TVaPersistent::CopyFrom(source);
        return;
    }
    InUpdate(*this, [&] {
        for (int i = kXonChar; i <= kEofChar; ++i) {
            SetChar(i, s->chars_[i - 1]);
        }
    });
}

void TVaBuffers::SetSize(int32_t& field, int32_t v) {
    v = Clamp(v);
    if (field == v) {
        return;
    }
    const int32_t old = field;
    field = v;
    try {
        Changed();
    } catch (...) {
        field = old;
        throw;
    }
}

void TVaBuffers::SetReadSize(int32_t v) {
    SetSize(readSize_, v);
}
void TVaBuffers::SetWriteSize(int32_t v) {
    SetSize(writeSize_, v);
}

void TVaBuffers::CopyFrom(const TVaPersistent& source) {
    const auto* s = dynamic_cast<const TVaBuffers*>(&source);
    if (s == nullptr) {
        TVaPersistent::CopyFrom(source);
        return;
    }
    const int32_t oldRead = readSize_;
    const int32_t oldWrite = writeSize_;
    BeginUpdate();
    readSize_ = s->readSize_;
    writeSize_ = s->writeSize_;
    readTimeout_ = s->readTimeout_;
    writeTimeout_ = s->writeTimeout_;
    try {
        EndUpdate();
    } catch (...) {
        // The owner refused: the sizes stay as they were.
        readSize_ = oldRead;
        writeSize_ = oldWrite;
        throw;
    }
}

}  // namespace zp
