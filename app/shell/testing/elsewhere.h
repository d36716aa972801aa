#pragma once

// Another program's window that takes the focus, so the program's own window is not the active
// one, as when the user works elsewhere while a long grab runs.

#include <QWidget>

#include <memory>

#include "app/shell/testing/test_page_host.h"

namespace quil::shell::testing {

// The window, active; null when the platform activates no window (then no window is active).
inline std::unique_ptr<QWidget> ActivateWindowElsewhere() {
    auto elsewhere = std::make_unique<QWidget>();
    elsewhere->setWindowTitle("Another program");
    elsewhere->resize(200, 100);
    elsewhere->show();
    elsewhere->activateWindow();
    if (!WaitFor([&] { return elsewhere->isActiveWindow(); }, 5000)) return nullptr;
    return elsewhere;
}

}  // namespace quil::shell::testing
