#pragma once

// The "Schedule" tab of the options dialog: the task list with New, Add and Delete, and the
// selected task's details. Changes reach the task list at once and the schedule file on Save.

#include <string>

#include "app/scheduler/schedule_task.h"
#include "app/settings/ui/options_page.h"
#include "app/shell/services.h"

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTimeEdit;
class QTreeView;

namespace quil::scheduler {

class TaskRowsModel;

class SchedulePage : public settings::OptionsPage {
    Q_OBJECT

public:
    // schedulePath: where Save writes, the data folder's "Schedule.qms" when empty.
    SchedulePage(TaskList& tasks, const shell::Services& services, std::string schedulePath = {},
                 QWidget* parent = nullptr);

    void Save() override;

    void New();
    void Add();
    void Delete();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowTask(const QModelIndex& row);
    void UpdateDateEnabling();

    TaskList& tasks_;
    shell::Services services_;
    std::string schedulePath_;
    TaskRowsModel* rows_;
    QTreeView* list_;
    QLineEdit* name_;
    QComboBox* when_;
    QDateEdit* startDate_;
    QTimeEdit* startTime_;
    QDateEdit* stopDate_;
    QTimeEdit* stopTime_;
};

}  // namespace quil::scheduler
