#include "app/settings/ui/schedule_page.h"

namespace quil::settings {

SchedulePage::SchedulePage(QWidget* parent) : OptionsPage(parent) {
    setObjectName("schedulePage");
}

}  // namespace quil::settings
