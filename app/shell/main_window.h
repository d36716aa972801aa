#pragma once

// The main window: a skinned frameless window with the source buttons, the output-format
// buttons, the pages, the transport buttons, the progress and volume sliders, the path line and
// the CPU text. It routes transport commands to the page shown and keeps the buttons in step
// with what the pages post back.

#include <QBasicTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>

#include "app/settings/wma_profile_catalogue.h"
#include "app/shell/cpu_meter.h"
#include "app/shell/page.h"
#include "app/shell/qt_window_target.h"
#include "app/shell/services.h"

class QButtonGroup;
class QLabel;
class QMenu;
class QRadioButton;

namespace quil::controls {
class BitmapSlider;
class ElidedCaption;
class SkinButton;
}  // namespace quil::controls

namespace quil::mixer {
class MasterVolume;
}

namespace quil::update {
class UpdateCheck;
}

namespace quil::scheduler {
class ScheduleHost;
class SchedulerRuntime;
}  // namespace quil::scheduler

namespace quil::shell {

class TrayIcon;

class MainWindow : public QWidget, public PageHost {
    Q_OBJECT

public:
    struct Options {
        Services services;
        // Where "update.ini", Quilmend and the plug-ins are; the program's folder by default.
        QString programFolder;
        bool showSplash = true;
        // Makes the page of an index; CreatePage when unset (tests put stand-ins here).
        std::function<std::unique_ptr<Page>(int index, PageHost& host, QWidget* parent)> pages;
    };

    explicit MainWindow(Options options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // PageHost.
    void SetFormatText(const QString& text) override;
    void SetPathText(const QString& text) override;
    int CurrentOutputFormat() const override;
    HWND MainWindowHandle() const override { return target_->handle(); }
    const Services& services() const override { return services_; }
    const settings::WmaProfileCatalogue& WmaProfiles() const override { return profiles_; }

    // Page selection by index (0, 1, 2, 3, 5, 8, 10; 9 opens the options dialog).
    void SelectPage(int index);
    int CurrentPageIndex() const { return current_; }
    Page* PageAt(int index) const;
    bool IsBusy() const { return busy_; }
    bool IsGrabbing() const { return grabbing_; }
    bool IsPaused() const { return paused_; }
    // What the path line names (a file or a stream), without its label; empty when idle.
    QString PathText() const { return pathText_; }
    // The progress slider in the page's unit (seconds, or a percentage on the CD page).
    int ProgressMaximum() const;
    int ProgressPosition() const;
    // Asks the current page to seek, as a drag of the progress slider would.
    bool Seek(int position);

    // The transport commands, as the buttons run them.
    void Record();
    void Play();
    void Pause();
    void Stop();
    void Previous();
    void Next();

    // Minimise to the notification area (or normally where there is none), and back.
    void MinimiseToTray();
    void ShowFromTray();
    TrayIcon* Tray() const { return tray_.get(); }

    QString FormatText() const { return formatText_; }
    QString CpuText() const { return cpuText_; }
    QString PathLine() const;
    controls::BitmapSlider* ProgressSlider() const { return progress_; }
    controls::BitmapSlider* VolumeSlider() const { return volume_; }

    // The scheduler's per-second check; the scheduler sets it when it is present.
    void SetSchedulerTick(std::function<void()> tick) { schedulerTick_ = std::move(tick); }
    // The scheduled tasks and their tick (timer 3131, stopped at shutdown).
    scheduler::SchedulerRuntime* Scheduler() const { return scheduler_.get(); }
    // Replaces the CPU meter (tests give it clocks they control).
    void SetCpuMeter(std::unique_ptr<CpuMeter> meter);
    // Takes a CPU sample now, as timer 3130 does.
    void SampleCpu();

    void ShowAboutBox();
    void ShowOptionsDialog();

signals:
    // The activity started, paused, resumed, ended, or its path changed.
    void ActivityChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Buttons {
        bool record, play, pause, stop;
    };

    void BuildControls();
    void BuildFormatGroup();
    void BuildMenus();
    void CreatePages(const Options& options);
    void SetUpVolume();
    void StartUpdateCheck();
    void OfferUpdate();
    void Shutdown();
    LRESULT OnMessage(const Message& message);
    void OnSlider(const Message& message);
    void SetButtons(Buttons buttons);
    void SetPreviousNext(bool enabled);
    void EndActivity();
    bool SeeksHere() const;
    void CheckSourceButton(int index);
    void UncheckSourceButtons();
    Page* Current() const { return PageAt(current_); }

    Services services_;
    QString programFolder_;
    QtWindowTarget* target_;
    settings::WmaProfileCatalogue profiles_;

    int current_ = -1;
    bool busy_ = false;
    bool grabbing_ = false;
    bool paused_ = false;
    QString pathText_;
    bool shutDown_ = false;
    QString formatText_;
    QString cpuText_;

    std::map<int, Page*> pages_;
    QButtonGroup* sourceButtons_ = nullptr;
    std::array<controls::SkinButton*, 6> transport_{};
    QWidget* formatGroup_ = nullptr;
    std::array<QRadioButton*, 4> formats_{};
    QLabel* formatLabel_ = nullptr;
    QLabel* cpuLabel_ = nullptr;
    controls::ElidedCaption* pathLine_ = nullptr;
    controls::BitmapSlider* progress_ = nullptr;
    controls::BitmapSlider* volume_ = nullptr;
    QMenu* sourceMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    std::unique_ptr<mixer::MasterVolume> masterVolume_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<CpuMeter> cpuMeter_;
    std::function<void()> schedulerTick_;
    std::unique_ptr<update::UpdateCheck> updateCheck_;
    bool askingForUpdate_ = false;
    std::unique_ptr<scheduler::ScheduleHost> scheduleHost_;
    std::unique_ptr<scheduler::SchedulerRuntime> scheduler_;

    QBasicTimer cpuTimer_;
    QBasicTimer schedulerTimer_;
    QBasicTimer updateTimer_;

    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace quil::shell
