// The component family's base: owner, name, tag and the framework's
// component-state flags, with the notification after loading.
#pragma once

#include <cstdint>
#include <string>

namespace zp {

enum TComponentStateFlag : uint32_t {
    csLoading = 0x01,
    csDesigning = 0x02,
    csDestroying = 0x04,
};

class TVaComponent {
  public:
    explicit TVaComponent(TVaComponent* owner = nullptr) : owner_(owner) {}
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;
    virtual ~TVaComponent() = default;

    TVaComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    intptr_t Tag() const { return tag_; }
    void SetTag(intptr_t tag) { tag_ = tag; }

    uint32_t ComponentState() const { return state_; }
    bool InState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }
    // The layout loader brackets its property writes with these two.
    void BeginLoading() { state_ |= csLoading; }
    void EndLoading() {
        state_ &= ~static_cast<uint32_t>(csLoading);
        Loaded();
    }
    void SetDesigning(bool on) {
        state_ = on ? (state_ | csDesigning) : (state_ & ~static_cast<uint32_t>(csDesigning));
    }

  protected:
    // Called once the stored layout that holds the component has been loaded.
    virtual void Loaded() {}
    void SetDestroying() { state_ |= csDestroying; }

  private:
    TVaComponent* owner_;
    std::string name_;
    intptr_t tag_ = 0;
    uint32_t state_ = 0;
};

}  // namespace zp
