#include "app/scheduler/schedule_page.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/scheduler/schedule_file.h"
#include "app/scheduler/task_rows_model.h"
#include "app/shell/string_table.h"

namespace quil::scheduler {

namespace {

constexpr int kInvalidDateOrTime = 188;
constexpr int kDeleteActiveTask = 189;
constexpr int kInputTaskName = 190;
constexpr int kActiveColumnWidth = 80;

TaskTime ToTaskTime(const QDateTime& moment) {
    TaskTime time;
    time.year = static_cast<WORD>(moment.date().year());
    time.month = static_cast<WORD>(moment.date().month());
    time.day = static_cast<WORD>(moment.date().day());
    time.hour = static_cast<WORD>(moment.time().hour());
    time.minute = static_cast<WORD>(moment.time().minute());
    time.second = static_cast<WORD>(moment.time().second());
    return time;
}

QDate DateOf(const TaskTime& time) {
    return QDate(time.year, time.month, time.day);
}

QTime TimeOf(const TaskTime& time) {
    return QTime(time.hour, time.minute, time.second);
}

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAccessibleName(text);
    return label;
}

template <typename W>
W* Named(W* widget, const char* objectName, const QString& accessibleName) {
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    return widget;
}

}  // namespace

SchedulePage::SchedulePage(TaskList& tasks, const shell::Services& services,
                           std::string schedulePath, QWidget* parent)
    : OptionsPage(parent),
      tasks_(tasks),
      services_(services.WithDefaults()),
      schedulePath_(schedulePath.empty() ? SchedulePath().string() : std::move(schedulePath)) {
    setObjectName("schedulePage");
    const QDateTime now = services_.clock->Now();

    rows_ = new TaskRowsModel(this);
    list_ = Named(new QTreeView(this), "taskList", tr("Tasks"));
    list_->setModel(rows_);
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->header()->setStretchLastSection(false);

    auto* details =
        Named(new QGroupBox(tr("Task detail:"), this), "taskDetail", tr("Task detail:"));
    name_ = Named(new QLineEdit(details), "taskName", tr("Task name"));
    // The title field holds 259 bytes; longer names in other scripts are cut on Add.
    name_->setMaxLength(kTitleSize - 1);
    when_ = Named(new QComboBox(details), "whenList", tr("When"));
    for (int day = 0; day < kActionDayCount; ++day)
        when_->addItem(settings::ToQString(ActionDayLabel(day)));
    startDate_ = Named(new QDateEdit(now.date(), details), "startDate", tr("Start at") + " date");
    startTime_ = Named(new QTimeEdit(now.time(), details), "startTime", tr("Start at") + " time");
    stopDate_ = Named(new QDateEdit(now.date(), details), "stopDate", tr("Stop at") + " date");
    stopTime_ = Named(new QTimeEdit(now.time(), details), "stopTime", tr("Stop at") + " time");
    for (QDateEdit* date : {startDate_, stopDate_}) {
        date->setCalendarPopup(true);
        date->setDisplayFormat("yyyy-MM-dd");
    }
    for (QTimeEdit* time : {startTime_, stopTime_}) time->setDisplayFormat("HH:mm:ss");

    auto* newButton = Named(new QPushButton(tr("New"), details), "newButton", tr("New"));
    auto* addButton = Named(new QPushButton(tr("Add"), details), "addButton", tr("Add"));
    auto* deleteButton =
        Named(new QPushButton(tr("Delete"), details), "deleteButton", tr("Delete"));
    for (QPushButton* button : {newButton, addButton, deleteButton}) button->setAutoDefault(false);

    auto* grid = new QGridLayout(details);
    grid->addWidget(Caption(tr("Task name"), details), 0, 0);
    grid->addWidget(name_, 0, 1, 1, 2);
    grid->addWidget(Caption(tr("When"), details), 1, 0);
    grid->addWidget(when_, 1, 1, 1, 2);
    grid->addWidget(Caption(tr("Start at"), details), 2, 0);
    grid->addWidget(startDate_, 2, 1);
    grid->addWidget(startTime_, 2, 2);
    grid->addWidget(Caption(tr("Stop at"), details), 3, 0);
    grid->addWidget(stopDate_, 3, 1);
    grid->addWidget(stopTime_, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(newButton);
    buttons->addWidget(addButton);
    buttons->addWidget(deleteButton);
    grid->addLayout(buttons, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_, 1);
    layout->addWidget(details);

    for (const ScheduleTask& task : tasks_) {
        rows_->Append({task.id, task.active != 0, settings::ToQString(task.Title())});
    }
    when_->setCurrentIndex(kFixedDay);
    UpdateDateEnabling();

    connect(when_, &QComboBox::currentIndexChanged, this, [this] { UpdateDateEnabling(); });
    connect(newButton, &QPushButton::clicked, this, &SchedulePage::New);
    connect(addButton, &QPushButton::clicked, this, &SchedulePage::Add);
    connect(deleteButton, &QPushButton::clicked, this, &SchedulePage::Delete);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { ShowTask(current); });
}

void SchedulePage::Save() {
    if (!StoreSchedule(schedulePath_, tasks_)) {
        services_.messages->Warn(this, tr("The schedule could not be saved to %1.")
                                           .arg(QString::fromStdString(schedulePath_)));
    }
}

void SchedulePage::New() {
    name_->clear();
}

void SchedulePage::Add() {
    const QString name = name_->text();
    if (name.isEmpty()) {
        services_.messages->ShowString(this, kInputTaskName);
        return;
    }
    const int actionDay = when_->currentIndex();
    const QDateTime now = services_.clock->Now();
    QDate startDate = now.date();
    QDate stopDate = now.date();
    if (actionDay == kFixedDay) {
        startDate = startDate_->date();
        stopDate = stopDate_->date();
    }
    const QDateTime start(startDate, startTime_->time());
    const QDateTime stop(stopDate, stopTime_->time());
    if (!start.isValid() || !stop.isValid() || start >= stop) {
        services_.messages->ShowString(this, kInvalidDateOrTime);
        return;
    }

    ScheduleTask task;
    const QDateTime utc = now.toUTC();
    task.id =
        (static_cast<DWORD>(utc.time().msec()) << 16) | static_cast<DWORD>(utc.time().second());
    task.active = 1;
    task.actionDay = actionDay;
    task.SetTitle(name.toStdString());
    task.start = ToTaskTime(start);
    task.stop = ToTaskTime(stop);
    rows_->Append({task.id, true, settings::ToQString(task.Title())});
    tasks_.Append(task);
}

void SchedulePage::Delete() {
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    const int row = selected.first().row();
    if (rows_->At(row).checked &&
        services_.messages->Ask(this, shell::LoadString(kDeleteActiveTask)) != QMessageBox::Yes) {
        return;
    }
    const DWORD id = rows_->At(row).id;
    rows_->Remove(row);
    tasks_.RemoveFirst(id);
}

void SchedulePage::ShowTask(const QModelIndex& row) {
    if (!row.isValid()) return;
    const ScheduleTask* task = tasks_.Find(rows_->At(row.row()).id);
    if (!task) return;
    name_->setText(settings::ToQString(task->Title()));
    if (task->actionDay >= 0 && task->actionDay < kActionDayCount)
        when_->setCurrentIndex(task->actionDay);
    UpdateDateEnabling();
    startDate_->setDate(DateOf(task->start));
    startTime_->setTime(TimeOf(task->start));
    stopDate_->setDate(DateOf(task->stop));
    stopTime_->setTime(TimeOf(task->stop));
}

void SchedulePage::UpdateDateEnabling() {
    const bool fixedDay = when_->currentIndex() == kFixedDay;
    startDate_->setEnabled(fixedDay);
    stopDate_->setEnabled(fixedDay);
}

void SchedulePage::resizeEvent(QResizeEvent* event) {
    OptionsPage::resizeEvent(event);
    list_->setColumnWidth(0, kActiveColumnWidth);
    list_->setColumnWidth(1, std::max(kActiveColumnWidth, list_->width() - 100));
}

}  // namespace quil::scheduler
