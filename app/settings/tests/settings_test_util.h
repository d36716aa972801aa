#pragma once

// Each test starts from a settings store without the program's key.

#include <gtest/gtest.h>

#include "app/settings/settings_key.h"
#include "platform/registry/registry.h"

namespace quil::settings::test {

inline void RemoveSettingsKey() {
    if (auto parent = registry::Key::Open(registry::Root::LocalMachine, "SOFTWARE\\Corvane"))
        parent->DeleteSubKey("Quillet");
}

inline registry::Key RawKey() {
    return *registry::Key::Create(registry::Root::LocalMachine, kSettingsKeyPath);
}

class FreshSettings : public ::testing::Test {
protected:
    void SetUp() override { RemoveSettingsKey(); }
    void TearDown() override { RemoveSettingsKey(); }
};

}  // namespace quil::settings::test
