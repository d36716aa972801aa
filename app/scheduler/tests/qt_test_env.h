#pragma once

// One QApplication for the whole test run: offscreen unless the caller chose a platform (the
// screenshots are taken under xvfb-run with QT_QPA_PLATFORM=xcb).

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace quil::scheduler::test {

class QtEnvironment : public ::testing::Environment {
public:
    void Ensure() {
        if (app_) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "scheduler_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline void EnsureApplication() {
    static auto* environment =
        static_cast<QtEnvironment*>(::testing::AddGlobalTestEnvironment(new QtEnvironment));
    environment->Ensure();
}

}  // namespace quil::scheduler::test
