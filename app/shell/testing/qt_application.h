#pragma once

// One QApplication on the offscreen platform for a test binary, made on first use and kept to
// the end of the run (destroying it among static objects at exit would crash).

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace quil::shell::testing {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void Ensure() {
        if (app_) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "quillet_ui_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline void EnsureApplication() {
    // gtest owns registered environments.
    static auto* environment = static_cast<QtApplicationEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment));
    environment->Ensure();
}

// A member to put before any widget member of a fixture: the application exists first.
struct ApplicationFirst {
    ApplicationFirst() { EnsureApplication(); }
};

}  // namespace quil::shell::testing
