// The text of the error that an action raises, for tests that compare
// messages.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace zp::test {

// The message of the E that f raises, or "(no error)"; any other exception
// leaves the test.
template <typename E = std::exception>
std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace zp::test
