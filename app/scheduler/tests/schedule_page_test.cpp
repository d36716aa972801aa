// The schedule page acted on through its widgets: Add with its refusals, ids from the UTC time,
// Delete of the first task with an id, the "When" rule, the view-only check box, Save through the
// options dialog, and a screenshot with tasks.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <QTreeView>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/controls/skin.h"
#include "app/scheduler/schedule_file.h"
#include "app/scheduler/schedule_page.h"
#include "app/settings/ui/options_dialog.h"
#include "app/settings/wma_profile_catalogue.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_services.h"
#include "testsupport/test_support.h"

namespace quil::scheduler {
namespace {

using shell::testing::TestServices;

template <typename W>
W* Child(QWidget* parent, const char* name) {
    W* widget = parent->findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

class SchedulePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell::testing::EnsureApplication();
        path_ = (quil::test::MakeTempDir("page") / "Schedule.qms").string();
        services_.clock.now = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0, 250));
    }
    void Open() {
        page_ = std::make_unique<SchedulePage>(tasks_, services_.Set(), path_);
        page_->resize(520, 420);
        page_->show();
        name_ = Child<QLineEdit>(page_.get(), "taskName");
        when_ = Child<QComboBox>(page_.get(), "whenList");
        list_ = Child<QTreeView>(page_.get(), "taskList");
    }
    QPushButton* Button(const char* name) { return Child<QPushButton>(page_.get(), name); }
    void Fill(const QString& name, int when, QTime start, QTime stop, QDate startDate = {},
              QDate stopDate = {}) {
        name_->setText(name);
        when_->setCurrentIndex(when);
        if (startDate.isValid()) Child<QDateEdit>(page_.get(), "startDate")->setDate(startDate);
        if (stopDate.isValid()) Child<QDateEdit>(page_.get(), "stopDate")->setDate(stopDate);
        Child<QTimeEdit>(page_.get(), "startTime")->setTime(start);
        Child<QTimeEdit>(page_.get(), "stopTime")->setTime(stop);
    }
    void Select(int row) { list_->setCurrentIndex(list_->model()->index(row, 1)); }
    QModelIndex Cell(int row, int column) { return list_->model()->index(row, column); }

    TestServices services_;
    TaskList tasks_;
    std::string path_;
    std::unique_ptr<SchedulePage> page_;
    QLineEdit* name_ = nullptr;
    QComboBox* when_ = nullptr;
    QTreeView* list_ = nullptr;
};

TEST_F(SchedulePageTest, ShowsTheListColumnsAndWhenChoices) {
    ScheduleTask loaded;
    loaded.id = 5;
    loaded.active = 0;
    loaded.SetTitle("Loaded");
    tasks_.Append(loaded);
    Open();
    QStringList whens;
    for (int i = 0; i < when_->count(); ++i) whens << when_->itemText(i);
    EXPECT_EQ(whens, QStringList({"Fixed day", "Every day", "Sunday", "Monday", "Tuesday",
                                  "Wednesday", "Thursday", "Friday", "Saturday"}));
    EXPECT_EQ(when_->currentText(), "Fixed day");
    auto* model = list_->model();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "Active");
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Task name");
    EXPECT_EQ(list_->columnWidth(0), 80);
    EXPECT_EQ(list_->columnWidth(1), list_->width() - 100);
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->data(Cell(0, 0)).toString(), "Active");
    EXPECT_EQ(model->data(Cell(0, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    EXPECT_EQ(model->data(Cell(0, 1)).toString(), "Loaded");
    for (const char* name : {"taskName", "whenList", "startDate", "startTime", "stopDate",
                             "stopTime", "newButton", "addButton", "deleteButton", "taskList"})
        EXPECT_FALSE(Child<QWidget>(page_.get(), name)->accessibleName().isEmpty()) << name;
}

TEST_F(SchedulePageTest, WhenEnablesTheDatePickersForFixedDayOnly) {
    Open();
    auto* startDate = Child<QDateEdit>(page_.get(), "startDate");
    auto* stopDate = Child<QDateEdit>(page_.get(), "stopDate");
    EXPECT_TRUE(startDate->isEnabled() && stopDate->isEnabled());
    for (int when = 1; when < kActionDayCount; ++when) {
        when_->setCurrentIndex(when);
        EXPECT_FALSE(startDate->isEnabled() || stopDate->isEnabled()) << when;
        EXPECT_TRUE(Child<QTimeEdit>(page_.get(), "startTime")->isEnabled());
        EXPECT_TRUE(Child<QTimeEdit>(page_.get(), "stopTime")->isEnabled());
    }
    when_->setCurrentIndex(kFixedDay);
    EXPECT_TRUE(startDate->isEnabled() && stopDate->isEnabled());
}

TEST_F(SchedulePageTest, AddRefusesAnEmptyNameAndTimesPastMidnight) {
    Open();
    Fill("", kEveryDay, QTime(7, 30), QTime(8, 0));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    EXPECT_EQ(services_.messages.Texts(), QStringList({"Please input task name."}));

    Fill("Night", kEveryDay, QTime(23, 0), QTime(1, 0));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    EXPECT_EQ(services_.messages.Texts().last(), "Invalid date or time format !");
    Fill("Same", kFixedDay, QTime(9, 0), QTime(9, 0), QDate(2026, 12, 8), QDate(2026, 12, 8));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    EXPECT_EQ(services_.messages.shown.size(), 3u);
    EXPECT_TRUE(tasks_.empty());
    EXPECT_EQ(list_->model()->rowCount(), 0);

    // A fixed-day task may run past midnight into the next day.
    Fill("Night", kFixedDay, QTime(23, 0), QTime(1, 0), QDate(2026, 12, 8), QDate(2026, 12, 9));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    ASSERT_EQ(tasks_.size(), 1u);
    EXPECT_EQ(tasks_[0].stop, (TaskTime{2026, 12, 0, 9, 1, 0, 0, 0}));
}

TEST_F(SchedulePageTest, AddStoresTheTaskWithAnIdFromTheUtcTime) {
    Open();
    Fill("Morning", kEveryDay, QTime(7, 30, 0), QTime(8, 0, 15), QDate(2020, 1, 1),
         QDate(2020, 1, 2));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    ASSERT_EQ(tasks_.size(), 1u);
    const ScheduleTask& task = tasks_[0];
    const QTime utc = services_.clock.now.toUTC().time();
    EXPECT_EQ(task.id, (static_cast<DWORD>(utc.msec()) << 16) | static_cast<DWORD>(utc.second()));
    EXPECT_EQ(task.id, (250u << 16) | 0u);
    EXPECT_EQ(task.active, 1);
    EXPECT_EQ(task.Title(), "Morning");
    EXPECT_EQ(task.actionDay, kEveryDay);
    // Not a fixed day: both dates are today's, whatever the pickers show.
    EXPECT_EQ(task.start, (TaskTime{2026, 12, 0, 7, 7, 30, 0, 0}));
    EXPECT_EQ(task.stop, (TaskTime{2026, 12, 0, 7, 8, 0, 15, 0}));
    EXPECT_EQ(list_->model()->data(Cell(0, 1)).toString(), "Morning");
    EXPECT_EQ(list_->model()->data(Cell(0, 0), Qt::CheckStateRole).value<Qt::CheckState>(),
              Qt::Checked);

    // New empties the name only.
    QTest::mouseClick(Button("newButton"), Qt::LeftButton);
    EXPECT_TRUE(name_->text().isEmpty());
    EXPECT_EQ(when_->currentIndex(), kEveryDay);

    // A name of more than 259 bytes is cut on a character boundary.
    Fill(QString(200, 'a') + QString(40, QChar(0x00E9)), kEveryDay, QTime(9, 0), QTime(10, 0));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    ASSERT_EQ(tasks_.size(), 2u);
    EXPECT_EQ(tasks_[1].Title().size(), 258u);  // 200 + 29 two-byte characters
}

TEST_F(SchedulePageTest, DeleteAsksForAnActiveRowAndRemovesTheFirstTaskWithTheId) {
    Open();
    // Same clock: both get the same id.
    Fill("First", kEveryDay, QTime(7, 0), QTime(8, 0));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    Fill("Second", kEveryDay, QTime(9, 0), QTime(10, 0));
    QTest::mouseClick(Button("addButton"), Qt::LeftButton);
    ASSERT_EQ(tasks_.size(), 2u);
    ASSERT_EQ(tasks_[0].id, tasks_[1].id);

    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);  // nothing selected
    EXPECT_EQ(tasks_.size(), 2u);
    EXPECT_TRUE(services_.messages.shown.empty());

    Select(1);
    services_.messages.answers = {QMessageBox::No};
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_EQ(services_.messages.Texts(), QStringList({"Are you sure to delete a active task?"}));
    EXPECT_EQ(services_.messages.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(tasks_.size(), 2u);
    EXPECT_EQ(list_->model()->rowCount(), 2);

    // Yes: the selected row goes, and the first task with its id.
    Select(1);
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    ASSERT_EQ(tasks_.size(), 1u);
    EXPECT_EQ(tasks_[0].Title(), "Second");
    ASSERT_EQ(list_->model()->rowCount(), 1);
    EXPECT_EQ(list_->model()->data(Cell(0, 1)).toString(), "First");

    // An unticked row goes without a question; the task keeps its active flag.
    list_->model()->setData(Cell(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_EQ(tasks_[0].active, 1);
    Select(0);
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_EQ(services_.messages.shown.size(), 2u);
    EXPECT_TRUE(tasks_.empty());
    EXPECT_EQ(list_->model()->rowCount(), 0);
}

TEST_F(SchedulePageTest, SelectingARowShowsItsTask) {
    ScheduleTask fixed;
    fixed.id = 1;
    fixed.SetTitle("Concert");
    fixed.actionDay = kFixedDay;
    fixed.start = {2026, 12, 0, 24, 20, 0, 0, 0};
    fixed.stop = {2026, 12, 0, 24, 22, 30, 5, 0};
    ScheduleTask weekly = fixed;
    weekly.id = 2;
    weekly.SetTitle("News");
    weekly.actionDay = kTuesday;
    weekly.start = {2026, 12, 0, 7, 7, 0, 0, 0};
    weekly.stop = {2026, 12, 0, 7, 7, 15, 0, 0};
    tasks_.Append(fixed);
    tasks_.Append(weekly);
    Open();
    Select(0);
    EXPECT_EQ(name_->text(), "Concert");
    EXPECT_EQ(when_->currentText(), "Fixed day");
    EXPECT_EQ(Child<QDateEdit>(page_.get(), "startDate")->date(), QDate(2026, 12, 24));
    EXPECT_EQ(Child<QTimeEdit>(page_.get(), "stopTime")->time(), QTime(22, 30, 5));
    EXPECT_TRUE(Child<QDateEdit>(page_.get(), "stopDate")->isEnabled());
    Select(1);
    EXPECT_EQ(name_->text(), "News");
    EXPECT_EQ(when_->currentText(), "Tuesday");
    EXPECT_EQ(Child<QTimeEdit>(page_.get(), "startTime")->time(), QTime(7, 0, 0));
    EXPECT_FALSE(Child<QDateEdit>(page_.get(), "stopDate")->isEnabled());
}

TEST_F(SchedulePageTest, SaveInTheOptionsDialogWritesTheFileWithoutDeletedTasks) {
    settings::WmaProfileCatalogue catalogue;
    // The picture shows the page as the program draws it.
    controls::ApplyProgramLook(*qApp);
    auto* page = new SchedulePage(tasks_, services_.Set(), path_);
    settings::OptionsDialog dialog(catalogue, nullptr, page);
    dialog.ShowPage(settings::OptionsDialog::kSchedulePage);
    dialog.show();
    page->findChild<QLineEdit*>("taskName")->setText("Morning");
    page->findChild<QComboBox*>("whenList")->setCurrentIndex(kEveryDay);
    page->findChild<QTimeEdit*>("startTime")->setTime(QTime(7, 30));
    page->findChild<QTimeEdit*>("stopTime")->setTime(QTime(8, 0));
    QTest::mouseClick(page->findChild<QPushButton*>("addButton"), Qt::LeftButton);
    page->findChild<QLineEdit*>("taskName")->setText("Evening");
    QTest::mouseClick(page->findChild<QPushButton*>("addButton"), Qt::LeftButton);
    QTest::mouseClick(dialog.findChild<QPushButton*>("saveButton"), Qt::LeftButton);
    TaskList saved;
    LoadSchedule(path_, saved);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].Title(), "Evening");

    auto* list = page->findChild<QTreeView*>("taskList");
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::mouseClick(page->findChild<QPushButton*>("deleteButton"), Qt::LeftButton);
    QTest::mouseClick(dialog.findChild<QPushButton*>("saveButton"), Qt::LeftButton);
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().find("[Task 2]"), std::string::npos);
    EXPECT_NE(text.str().find("strTaskTitle=Evening"), std::string::npos);

    // A schedule that cannot be written says so.
    std::filesystem::remove(path_);
    std::filesystem::create_directories(path_);
    QTest::mouseClick(dialog.findChild<QPushButton*>("saveButton"), Qt::LeftButton);
    ASSERT_FALSE(services_.messages.shown.empty());
    EXPECT_TRUE(services_.messages.Texts().last().startsWith("The schedule could not be saved"));
}

TEST_F(SchedulePageTest, ScreenshotWithTasks) {
    settings::WmaProfileCatalogue catalogue;
    const std::pair<const char*, int> examples[] = {
        {"Morning news", kEveryDay}, {"Tuesday concert", kTuesday}, {"New Year's Eve", kFixedDay}};
    for (auto [title, when] : examples) {
        ScheduleTask task;
        task.id = static_cast<DWORD>(when + 1);
        task.SetTitle(title);
        task.actionDay = when;
        task.start = {2026, 12, 0, 31, 7, 30, 0, 0};
        task.stop = {2026, 12, 0, 31, 8, 0, 0, 0};
        tasks_.Append(task);
    }
    // The picture shows the page as the program draws it.
    controls::ApplyProgramLook(*qApp);
    auto* page = new SchedulePage(tasks_, services_.Set(), path_);
    settings::OptionsDialog dialog(catalogue, nullptr, page);
    dialog.ShowPage(settings::OptionsDialog::kSchedulePage);
    dialog.show();
    auto* list = page->findChild<QTreeView*>("taskList");
    list->setCurrentIndex(list->model()->index(1, 1));
    list->model()->setData(list->model()->index(2, 0), Qt::Unchecked, Qt::CheckStateRole);
    QCoreApplication::processEvents();
    const QString folder = QStringLiteral(QUIL_SCHEDULER_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(dialog.grab().save(folder + "/schedule_page.png"));
    // Every button shows its whole caption.
    for (auto* button : dialog.findChildren<QPushButton*>()) {
        if (!button->isVisible()) continue;
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
            << button->text().toStdString();
    }
}

}  // namespace
}  // namespace quil::scheduler
