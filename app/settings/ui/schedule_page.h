#pragma once

#include "app/settings/ui/options_page.h"

namespace quil::settings {

// The tab of the recording schedule. It stays empty until the schedule editor takes its place
// (OptionsDialog accepts another page for this tab).
class SchedulePage : public OptionsPage {
    Q_OBJECT

public:
    explicit SchedulePage(QWidget* parent = nullptr);
    void Save() override {}
};

}  // namespace quil::settings
