#include "app/scheduler/schedule_task.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quil::scheduler {

std::string_view ActionDayLabel(int actionDay) {
    static constexpr std::array<std::string_view, kActionDayCount> kLabels = {
        "Fixed day", "Every day", "Sunday", "Monday",  "Tuesday",
        "Wednesday", "Thursday",  "Friday", "Saturday"};
    if (actionDay < 0 || actionDay >= kActionDayCount) return {};
    return kLabels[static_cast<size_t>(actionDay)];
}

std::string_view CutOnCharacter(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    auto continuation = [&](size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the character that is cut;
    // text that is not UTF-8 (more than three in a row) is cut where the limit falls.
    size_t end = limit;
    while (end > 0 && limit - end < 3 && continuation(end)) --end;
    return continuation(end) ? text.substr(0, limit) : text.substr(0, end);
}

void ScheduleTask::SetTitle(std::string_view text) {
    std::string_view kept = CutOnCharacter(text, kTitleSize - 1);
    std::memset(title, 0, sizeof title);
    std::memcpy(title, kept.data(), kept.size());
}

std::string_view ScheduleTask::Title() const {
    return std::string_view(title, strnlen(title, sizeof title));
}

const ScheduleTask* TaskList::Find(DWORD id) const {
    auto it = std::find_if(tasks_.begin(), tasks_.end(),
                           [id](const ScheduleTask& task) { return task.id == id; });
    return it == tasks_.end() ? nullptr : &*it;
}

bool TaskList::RemoveFirst(DWORD id) {
    auto it = std::find_if(tasks_.begin(), tasks_.end(),
                           [id](const ScheduleTask& task) { return task.id == id; });
    if (it == tasks_.end()) return false;
    tasks_.erase(it);
    return true;
}

}  // namespace quil::scheduler
