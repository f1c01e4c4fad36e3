// Test helpers over the host layer: the message a call raises, and format settings put back
// when a test that changes them ends.
#pragma once
#include <functional>
#include <string>

#include "platform/exception.h"
#include "platform/locale.h"

namespace zarbel::testutil {

// The engine message raised by f, or "(no exception)".
inline std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

struct SettingsGuard {
    TFormatSettings saved = FormatSettings();
    ~SettingsGuard() { FormatSettings() = saved; }
};

}  // namespace zarbel::testutil
