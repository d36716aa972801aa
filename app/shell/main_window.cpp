#include "app/shell/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QSplashScreen>
#include <QTimer>
#include <QTimerEvent>
#include <QWindow>

#include "app/controls/bitmap_slider.h"
#include "app/controls/elided_caption.h"
#include "app/controls/skin.h"
#include "app/mixer/mixer_control.h"
#include "app/scheduler/schedule_page.h"
#include "app/scheduler/scheduler_runtime.h"
#include "app/settings/format_settings.h"
#include "app/settings/settings_key.h"
#include "app/settings/ui/folder_browser.h"
#include "app/settings/ui/options_dialog.h"
#include "app/shell/about_box.h"
#include "app/shell/messages.h"
#include "app/shell/page_factory.h"
#include "app/shell/startup.h"
#include "app/shell/string_table.h"
#include "app/shell/tray_icon.h"
#include "update/update_check.h"

namespace quil::shell {

namespace {

using controls::Glyph;
using controls::SkinButton;

constexpr QSize kWindowSize(675, 525);
constexpr int kTitleHeight = 22;
const QRect kSourcePageRect(6, 92, 663, 375);
const QRect kWidePageRect(6, 63, 663, 404);
const QRect kFormatTextRect(535, 34, 117, 18);
const QRect kCpuTextRect(468, 34, 67, 18);

enum Transport { kRecord, kPlay, kPause, kStop, kPrevious, kNext };

struct SourceButton {
    int index;
    Glyph glyph;
    const char* caption;
    const char* tooltip;
    QPoint at;
};

constexpr SourceButton kSourceButtons[] = {
    {kLivePage, Glyph::Recorder, "Recorder", "Record audio from sound card", {8, 25}},
    {kMediaPage, Glyph::MediaFile, "Media file", "Extract audio from media file", {72, 25}},
    {kCdPage, Glyph::CdRipper, "CD Ripper", "Rip audio from Audio CD/DVD", {136, 25}},
    {kNetworkPage, Glyph::Network, "Network", "Dump audio from streaming media", {200, 25}},
    {kPlayerPage, Glyph::Player, "Player", "Media player", {285, 25}},
};

bool IsSourcePage(int index) {
    return index == kLivePage || index == kMediaPage || index == kCdPage || index == kNetworkPage;
}

// Folder choices of the options dialog go through the replaceable file dialogs.
class ServiceFolderBrowser final : public settings::FolderBrowser {
public:
    explicit ServiceFolderBrowser(FileDialogs* files) : files_(files) {}
    std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title,
                                           const QString& startFolder) override {
        QString folder = files_->ChooseFolder(parent, title, startFolder);
        if (folder.isEmpty()) return std::nullopt;
        return folder;
    }

private:
    FileDialogs* files_;
};

// Scheduled starts and stops run the window's own Record and Stop on the recorder page.
class WindowScheduleHost final : public scheduler::ScheduleHost {
public:
    explicit WindowScheduleHost(MainWindow& window) : window_(window) {}
    bool ScheduledStart(const scheduler::ScheduleTask&) override {
        if (window_.IsBusy()) return false;
        window_.SelectPage(kLivePage);
        window_.Record();  // shows "Option failed!" itself
        return window_.IsBusy();
    }
    bool ScheduledStop(const scheduler::ScheduleTask&) override {
        if (window_.CurrentPageIndex() != kLivePage) return false;
        const bool recording = window_.IsBusy() && window_.IsGrabbing();
        window_.Stop();
        return recording && !window_.IsBusy();
    }
    bool Busy() const override { return window_.IsBusy(); }
    void CloseProgram() override { QTimer::singleShot(0, &window_, &QWidget::close); }

private:
    MainWindow& window_;
};

}  // namespace

MainWindow::MainWindow(Options options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      services_(options.services.WithDefaults()),
      programFolder_(options.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                     : options.programFolder),
      target_(new QtWindowTarget(this, [this](const Message& m) { return OnMessage(m); })) {
    setObjectName("mainWindow");
    setAccessibleName(LoadString(57344));
    setFixedSize(kWindowSize);

    std::unique_ptr<QSplashScreen> splash;
    if (options.showSplash) {
        const qreal ratio = QGuiApplication::primaryScreen()
                                ? QGuiApplication::primaryScreen()->devicePixelRatio()
                                : 1.0;
        splash = std::make_unique<QSplashScreen>(controls::SplashPixmap(ratio));
        splash->show();
    }

    WriteComponentDefaults(6);
    BuildControls();
    BuildMenus();

    const auto stored =
        settings::SettingsKey::ForLoad().ReadNumber(settings::value::kOutputFormat, 0);
    formats_[stored >= 0 && stored <= 3 ? stored : 0]->setChecked(true);

    EnsureTrackSourceRegistered(programFolder_.toStdString());
    profiles_ = LoadWmaProfiles();
    scheduleHost_ = std::make_unique<WindowScheduleHost>(*this);
    scheduler_ = std::make_unique<scheduler::SchedulerRuntime>(services_, *scheduleHost_, this);
    scheduler_->Load();
    SetSchedulerTick([this] { scheduler_->Tick(); });
    CreatePages(options);
    SelectPage(kLivePage);
    SetUpVolume();

    tray_ = std::make_unique<TrayIcon>([this] { ShowFromTray(); }, [this] { close(); }, this);
    tray_->Hide();
    setWindowTitle(LoadString(57344));
    setWindowIcon(controls::GlyphIcon(Glyph::Logo));
    if (splash) splash->close();

    cpuMeter_ = std::make_unique<CpuMeter>();
    updateCheck_ = std::make_unique<update::UpdateCheck>();
    StartUpdateCheck();
    updateTimer_.start(kUpdatePeriodMs, Qt::CoarseTimer, this);
    // The scheduler must see every second: a coarse timer could skip one.
    schedulerTimer_.start(kSchedulerPeriodMs, Qt::PreciseTimer, this);
    cpuMeter_->Start();
    cpuTimer_.start(kCpuMeterPeriodMs, Qt::CoarseTimer, this);
}

MainWindow::~MainWindow() {
    Shutdown();
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    Stop();
    schedulerTimer_.stop();
    cpuTimer_.stop();
    if (cpuMeter_) cpuMeter_->Stop();
    updateTimer_.stop();
    // Cancelled and joined, never killed: nothing is posted after this.
    if (updateCheck_) updateCheck_->Stop();
    schedulerTick_ = nullptr;
    // Pages go first: their grabbers may still post to this window.
    for (auto& [index, page] : pages_) delete page;
    pages_.clear();
    masterVolume_.reset();
    tray_.reset();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
}

void MainWindow::BuildControls() {
    QFont small = font();
    small.setPixelSize(11);

    auto* minimise = new SkinButton(Glyph::Minimise, {}, this);
    minimise->setGeometry(634, 4, 17, 19);
    minimise->setObjectName("minimise");
    minimise->setToolTip("Minimize");
    minimise->setAccessibleName("Minimize");
    connect(minimise, &QAbstractButton::clicked, this, &MainWindow::MinimiseToTray);
    auto* closeButton = new SkinButton(Glyph::Close, {}, this);
    closeButton->setGeometry(654, 4, 17, 19);
    closeButton->setObjectName("close");
    closeButton->setToolTip("Close");
    closeButton->setAccessibleName("Close");
    connect(closeButton, &QAbstractButton::clicked, this, &QWidget::close);

    sourceButtons_ = new QButtonGroup(this);
    sourceButtons_->setExclusive(true);
    for (const SourceButton& source : kSourceButtons) {
        auto* button = new SkinButton(source.glyph, source.caption, this);
        button->setFont(small);
        button->setCheckable(true);
        button->setGeometry(QRect(source.at, QSize(64, 38)));
        button->setToolTip(source.tooltip);
        button->setAccessibleName(source.caption);
        button->setAccessibleDescription(source.tooltip);
        button->setObjectName(QStringLiteral("source%1").arg(source.index));
        sourceButtons_->addButton(button, source.index);
    }
    connect(sourceButtons_, &QButtonGroup::idClicked, this, &MainWindow::SelectPage);

    auto* option = new SkinButton(Glyph::Option, "Option", this);
    option->setFont(small);
    option->setGeometry(349, 25, 64, 38);
    option->setToolTip("Option");
    option->setAccessibleName("Option");
    option->setObjectName("option");
    connect(option, &QAbstractButton::clicked, this, &MainWindow::ShowOptionsDialog);

    auto* sourceArrow = new SkinButton(Glyph::DropDown, {}, this);
    sourceArrow->setGeometry(265, 24, 20, 38);
    sourceArrow->setObjectName("sourceMenuButton");
    sourceArrow->setToolTip("More sources");
    sourceArrow->setAccessibleName("More sources");
    connect(sourceArrow, &QAbstractButton::clicked, this, [this, sourceArrow] {
        for (QAction* action : sourceMenu_->actions())
            if (action->isCheckable()) action->setChecked(action->data().toInt() == current_);
        sourceMenu_->popup(sourceArrow->mapToGlobal(QPoint(0, sourceArrow->height())));
    });
    auto* helpArrow = new SkinButton(Glyph::DropDown, {}, this);
    helpArrow->setGeometry(662, 25, 11, 36);
    helpArrow->setObjectName("helpMenuButton");
    helpArrow->setToolTip("Help");
    helpArrow->setAccessibleName("Help");
    connect(helpArrow, &QAbstractButton::clicked, this, [this, helpArrow] {
        helpMenu_->popup(helpArrow->mapToGlobal(QPoint(0, helpArrow->height())));
    });

    cpuLabel_ = new QLabel(this);
    cpuLabel_->setObjectName("cpuText");
    cpuLabel_->setGeometry(kCpuTextRect);
    cpuLabel_->setFont(small);
    cpuLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cpuLabel_->setAccessibleName("Processor use");
    formatLabel_ = new QLabel(this);
    formatLabel_->setObjectName("formatText");
    formatLabel_->setGeometry(kFormatTextRect);
    formatLabel_->setFont(small);
    formatLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    formatLabel_->setAccessibleName("Audio format");
    cpuText_ = QStringLiteral("CPU %1%").arg(0);
    cpuLabel_->setText(cpuText_);

    BuildFormatGroup();

    struct TransportButton {
        Glyph glyph;
        const char* name;
        QRect at;
        QKeySequence shortcut;
        void (MainWindow::*command)();
    };
    const TransportButton buttons[] = {
        {Glyph::Record, "Record", {8, 485, 34, 35}, QKeySequence("Ctrl+R"), &MainWindow::Record},
        {Glyph::Play, "Play", {42, 489, 25, 27}, QKeySequence("Ctrl+P"), &MainWindow::Play},
        {Glyph::Pause,
         "Pause",
         {77, 489, 25, 27},
         QKeySequence("Ctrl+Shift+P"),
         &MainWindow::Pause},
        {Glyph::Stop, "Stop", {103, 489, 25, 27}, QKeySequence("Ctrl+."), &MainWindow::Stop},
        {Glyph::Previous,
         "Previous",
         {138, 489, 25, 27},
         QKeySequence("Ctrl+Left"),
         &MainWindow::Previous},
        {Glyph::Next, "Next", {163, 489, 25, 27}, QKeySequence("Ctrl+Right"), &MainWindow::Next},
    };
    for (size_t i = 0; i < transport_.size(); ++i) {
        auto* button = new SkinButton(buttons[i].glyph, {}, this);
        button->SetRound(true);
        if (i == kRecord) button->SetGlyphColor(controls::colors::kRecord);
        button->setGeometry(buttons[i].at);
        button->setObjectName(QString(buttons[i].name).toLower());
        button->setShortcut(buttons[i].shortcut);
        const QString tip = QStringLiteral("%1 (%2)").arg(
            buttons[i].name, buttons[i].shortcut.toString(QKeySequence::NativeText));
        button->setToolTip(tip);
        button->setAccessibleName(buttons[i].name);
        connect(button, &QAbstractButton::clicked, this, buttons[i].command);
        transport_[i] = button;
    }

    const qreal ratio = devicePixelRatioF();
    progress_ = new controls::BitmapSlider(this);
    progress_->setObjectName("progressSlider");
    progress_->setAccessibleName("Position");
    progress_->move(2, 470);
    progress_->SetChannel(controls::SliderChannel({669, 10}, ratio, false),
                          controls::SliderChannel({669, 10}, ratio, true), true);
    progress_->SetThumb(controls::SliderThumb({8, 10}, ratio, false),
                        controls::SliderThumb({8, 10}, ratio, true), true);
    progress_->SetRange(0, 100);
    progress_->SetPos(0);
    progress_->SetNotify(target_->handle(), kProgressSliderId);

    auto* speaker = new QLabel(this);
    speaker->setPixmap(
        controls::GlyphIcon(Glyph::Volume, controls::colors::kMutedText).pixmap(QSize(14, 14)));
    speaker->setGeometry(265, 495, 14, 14);
    volume_ = new controls::BitmapSlider(this);
    volume_->setObjectName("volumeSlider");
    volume_->setAccessibleName("Volume");
    volume_->move(192, 496);
    volume_->SetChannel(controls::SliderChannel({69, 13}, ratio, false),
                        controls::SliderChannel({69, 13}, ratio, true), true);
    volume_->SetThumb(controls::SliderThumb({6, 13}, ratio, false),
                      controls::SliderThumb({6, 13}, ratio, true), true);
    volume_->SetNotify(target_->handle(), kVolumeSliderId);

    pathLine_ = new controls::ElidedCaption(this);
    pathLine_->setObjectName("pathLine");
    pathLine_->setAccessibleName("Output file path");
    pathLine_->setGeometry(298, 493, 358, 20);
    pathLine_->setFont(small);
}

void MainWindow::BuildFormatGroup() {
    formatGroup_ = new QWidget(this);
    formatGroup_->setObjectName("formatGroup");
    formatGroup_->setGeometry(6, 66, 663, 24);
    auto* label = new QLabel("Output format:", formatGroup_);
    label->setGeometry(8, 2, 96, 20);
    const char* names[] = {"Wav", "Mp3", "Wma", "Ogg"};
    auto* group = new QButtonGroup(formatGroup_);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(names[i], formatGroup_);
        radio->setObjectName(QStringLiteral("format%1").arg(names[i]));
        radio->setGeometry(108 + i * 64, 2, 60, 20);
        radio->setAccessibleName(names[i]);
        group->addButton(radio, i);
        formats_[i] = radio;
    }
}

void MainWindow::BuildMenus() {
    sourceMenu_ = new QMenu(this);
    sourceMenu_->setObjectName("sourceMenu");
    struct Entry {
        const char* text;
        int index;
    };
    const Entry entries[] = {{"Record audio from sound card", kLivePage},
                             {"Extract audio from media file", kMediaPage},
                             {"Rip audio from Audio CD/DVD", kCdPage},
                             {"Dump audio from streaming media", kNetworkPage},
                             {nullptr, -1},
                             {"ID3Tag Edit", kTagPage},
                             {"Home page", kHomePage}};
    for (const Entry& entry : entries) {
        if (!entry.text) {
            sourceMenu_->addSeparator();
            continue;
        }
        QAction* action = sourceMenu_->addAction(entry.text);
        action->setCheckable(true);
        action->setData(entry.index);
        const int index = entry.index;
        connect(action, &QAction::triggered, this, [this, index] {
            SelectPage(index);
            if (current_ == index && (index == kTagPage || index == kHomePage))
                UncheckSourceButtons();
        });
    }
    systemMenu_ = new QMenu(this);
    systemMenu_->setObjectName("systemMenu");
    systemMenu_->addAction("Minimize", this, &MainWindow::MinimiseToTray);
    systemMenu_->addAction("Close", this, &QWidget::close);
    systemMenu_->addSeparator();
    systemMenu_->addAction(LoadString(101), this, &MainWindow::ShowAboutBox);

    helpMenu_ = new QMenu(this);
    helpMenu_->setObjectName("helpMenu");
    helpMenu_->addAction("Online help");  // has no action
    helpMenu_->addAction(LoadString(101), this, &MainWindow::ShowAboutBox);
}

void MainWindow::CreatePages(const Options& options) {
    for (int index :
         {kLivePage, kMediaPage, kCdPage, kNetworkPage, kPlayerPage, kTagPage, kHomePage}) {
        std::unique_ptr<Page> page =
            options.pages ? options.pages(index, *this, this) : CreatePage(index, *this, this);
        page->setGeometry(IsSourcePage(index) ? kSourcePageRect : kWidePageRect);
        page->hide();
        pages_[index] = page.release();
    }
}

void MainWindow::SetUpVolume() {
    masterVolume_ = std::make_unique<mixer::MasterVolume>(target_->handle());
    if (!masterVolume_->IsUsable()) {
        volume_->Enable(false);
        volume_->setToolTip("No sound server");
        return;
    }
    volume_->SetRange(static_cast<int>(masterVolume_->GetMinimum()),
                      static_cast<int>(masterVolume_->GetMaximum()));
    volume_->SetPos(static_cast<int>(masterVolume_->GetLevel()));
    masterVolume_->SetObserver(
        [](long level, void* user) {
            auto* self = static_cast<MainWindow*>(user);
            if (!self->volume_->IsDragging()) self->volume_->SetPos(static_cast<int>(level));
        },
        this);
}

Page* MainWindow::PageAt(int index) const {
    auto it = pages_.find(index);
    return it == pages_.end() ? nullptr : it->second;
}

void MainWindow::CheckSourceButton(int index) {
    if (QAbstractButton* button = sourceButtons_->button(index)) button->setChecked(true);
}

void MainWindow::UncheckSourceButtons() {
    sourceButtons_->setExclusive(false);
    for (QAbstractButton* button : sourceButtons_->buttons()) button->setChecked(false);
    sourceButtons_->setExclusive(true);
}

void MainWindow::SelectPage(int index) {
    if (index == current_) return;
    if (index == kOptionsIndex) {
        ShowOptionsDialog();
        return;
    }
    if (!PageAt(index)) return;
    if (busy_) {
        services_.messages->ShowString(this, 57346);
        if (current_ >= 0 && current_ != kTagPage && current_ != kHomePage)
            CheckSourceButton(current_);
        else
            UncheckSourceButtons();
        return;
    }
    formatGroup_->setVisible(index != kPlayerPage && index != kTagPage && index != kHomePage);
    for (auto& [pageIndex, page] : pages_) page->setVisible(pageIndex == index);
    const bool transportOn = index != kTagPage && index != kHomePage;
    for (auto* button : transport_) button->setEnabled(transportOn);
    progress_->Enable(transportOn);
    volume_->Enable(transportOn && masterVolume_ && masterVolume_->IsUsable());
    if (index == kPlayerPage) transport_[kRecord]->setEnabled(false);
    current_ = index;
    if (index == kTagPage || index == kHomePage)
        UncheckSourceButtons();
    else
        CheckSourceButton(index);
    if (index == kPlayerPage) PageAt(index)->Refresh();
}

void MainWindow::SetButtons(Buttons buttons) {
    transport_[kRecord]->setEnabled(buttons.record);
    transport_[kPlay]->setEnabled(buttons.play);
    transport_[kPause]->setEnabled(buttons.pause);
    transport_[kStop]->setEnabled(buttons.stop);
}

void MainWindow::SetPreviousNext(bool enabled) {
    transport_[kPrevious]->setEnabled(enabled);
    transport_[kNext]->setEnabled(enabled);
}

void MainWindow::Record() {
    Page* page = Current();
    if (!page || !IsSourcePage(current_)) return;
    if (!page->StartGrab()) {
        services_.messages->ShowString(this, 57345);
        return;
    }
    SetButtons({false, false, true, true});
    SetPreviousNext(false);
    grabbing_ = true;
    busy_ = true;
    paused_ = false;
    emit ActivityChanged();
}

void MainWindow::Play() {
    Page* page = Current();
    if (!page || !(IsSourcePage(current_) || current_ == kPlayerPage)) return;
    if (!page->Play()) return;
    SetButtons({false, false, true, true});
    grabbing_ = false;
    paused_ = false;
    emit ActivityChanged();
}

void MainWindow::Pause() {
    Page* page = Current();
    if (!page) return;
    if (grabbing_) {
        if (!IsSourcePage(current_) || !page->PauseGrab()) return;
        SetButtons({true, false, false, true});
    } else {
        if (!(IsSourcePage(current_) || current_ == kPlayerPage) || !page->PausePlayback()) return;
        SetButtons({false, true, false, true});
    }
    paused_ = true;
    emit ActivityChanged();
}

void MainWindow::Stop() {
    Page* page = Current();
    if (!page) return;
    const bool stopped =
        grabbing_ ? IsSourcePage(current_) && page->StopGrab()
                  : (IsSourcePage(current_) || current_ == kPlayerPage) && page->StopPlayback();
    if (!stopped) return;
    // The player page never records, whatever ended there.
    SetButtons({current_ != kTagPage && current_ != kPlayerPage, true, true, true});
    SetPreviousNext(true);
    EndActivity();
}

void MainWindow::Previous() {
    Page* page = Current();
    if (!page || !(IsSourcePage(current_) || current_ == kPlayerPage) || !page->Previous()) return;
    SetButtons({false, false, true, true});
    paused_ = false;
    emit ActivityChanged();
}

void MainWindow::Next() {
    Page* page = Current();
    if (!page || !(IsSourcePage(current_) || current_ == kPlayerPage) || !page->Next()) return;
    SetButtons({false, false, true, true});
    paused_ = false;
    emit ActivityChanged();
}

void MainWindow::EndActivity() {
    busy_ = false;
    paused_ = false;
    emit ActivityChanged();
}

int MainWindow::ProgressMaximum() const {
    return progress_->Maximum();
}

int MainWindow::ProgressPosition() const {
    return progress_->GetPos();
}

bool MainWindow::SeeksHere() const {
    // Seeking reaches these pages only; the media file page only while it plays.
    return current_ == kLivePage || current_ == kCdPage || current_ == kPlayerPage ||
           (current_ == kMediaPage && !grabbing_);
}

bool MainWindow::Seek(int position) {
    if (!SeeksHere() || !Current()) return false;
    progress_->SetPos(position);
    return PostMessage(Current()->Handle(), MSG_SEEK, static_cast<WPARAM>(progress_->GetPos()), 0);
}

LRESULT MainWindow::OnMessage(const Message& message) {
    if (masterVolume_ && masterVolume_->HandleMessage(message)) return 0;
    switch (message.message) {
        case MSG_PROGRESS:
            progress_->SetRange(0, static_cast<int>(message.wParam));
            progress_->SetPos(static_cast<int>(message.lParam));
            return 0;
        case MSG_STARTED:
            SetButtons({false, false, true, true});
            busy_ = true;
            paused_ = false;
            emit ActivityChanged();
            return 0;
        case MSG_STOPPED:
        case MSG_STOPPED_PLAYER: {
            const bool record = message.message == MSG_STOPPED || current_ != kPlayerPage;
            SetButtons(
                {record && current_ != kPlayerPage && current_ != kTagPage && current_ != kHomePage,
                 true, true, true});
            SetPreviousNext(true);
            progress_->SetPos(0);
            EndActivity();
            return 0;
        }
        case MSG_LOCK_CONTROLS:
            progress_->SetPos(0);
            for (auto* button : transport_) button->setEnabled(false);
            volume_->Enable(false);
            progress_->Enable(false);
            return 0;
        case MSG_UPDATE_FOUND:
            OfferUpdate();
            return 0;
        case MSG_RUN_UPDATER:
            if (services_.launcher->Start(
                    programFolder_ + "/" + QString::fromUtf8(update::kUpdaterName),
                    {QString::fromUtf8(update::kUpdaterArguments)}))
                close();
            else
                services_.messages->ShowString(this, 57348);
            return 0;
        case MSG_SLIDER_MOVED:
        case MSG_SLIDER_RELEASED:
            OnSlider(message);
            return 0;
        default:
            return 0;
    }
}

void MainWindow::OnSlider(const Message& message) {
    // A release or a key only redraws: seeking and volume follow the thumb while dragged.
    if (message.message != MSG_SLIDER_MOVED) return;
    if (message.wParam == kProgressSliderId) {
        if (SeeksHere() && Current()) PostMessage(Current()->Handle(), MSG_SEEK, message.lParam, 0);
    } else if (message.wParam == kVolumeSliderId && masterVolume_) {
        masterVolume_->SetLevel(static_cast<long>(message.lParam));
    }
}

void MainWindow::StartUpdateCheck() {
    // No server set: no check runs. A check still running is left to finish.
    const std::string server = settings::LoadUpdateServer();
    if (server.empty() || !updateCheck_) return;
    updateCheck_->Start(server, programFolder_.toStdString(), target_->handle(), MSG_UPDATE_FOUND);
}

void MainWindow::OfferUpdate() {
    // The ten-minute timer may find the same release while the question is still open.
    if (askingForUpdate_) return;
    askingForUpdate_ = true;
    const auto answer =
        services_.messages->Show(this, LoadString(57347), LoadString(57344),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Question);
    askingForUpdate_ = false;
    if (answer == QMessageBox::Yes) PostMessage(target_->handle(), MSG_RUN_UPDATER, 0, 0);
}

void MainWindow::SetFormatText(const QString& text) {
    formatText_ = text;
    formatLabel_->setText(text);
}

void MainWindow::SetPathText(const QString& text) {
    if (text != pathText_) {
        pathText_ = text;
        emit ActivityChanged();
    }
    if (text.isEmpty())
        pathLine_->SetText(QString(), QString());
    else
        pathLine_->SetText("Output file path:  ", text);
}

QString MainWindow::PathLine() const {
    return pathLine_->Text();
}

int MainWindow::CurrentOutputFormat() const {
    if (formats_[3]->isChecked()) return 3;
    if (formats_[2]->isChecked()) return 2;
    if (formats_[1]->isChecked()) return 1;
    return 0;
}

void MainWindow::SetCpuMeter(std::unique_ptr<CpuMeter> meter) {
    cpuMeter_ = std::move(meter);
    cpuMeter_->Start();
}

void MainWindow::SampleCpu() {
    const double fraction = cpuMeter_ ? cpuMeter_->Sample() : 0;
    cpuText_ = QStringLiteral("CPU %1%").arg(static_cast<int>(fraction * 100));
    cpuLabel_->setText(cpuText_);
}

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() == cpuTimer_.timerId()) {
        SampleCpu();
    } else if (event->timerId() == schedulerTimer_.timerId()) {
        if (schedulerTick_) schedulerTick_();
    } else if (event->timerId() == updateTimer_.timerId()) {
        StartUpdateCheck();
    } else {
        QWidget::timerEvent(event);
    }
}

void MainWindow::MinimiseToTray() {
    if (!tray_ || !tray_->IsAvailable()) {
        showMinimized();
        return;
    }
    showMinimized();
    hide();
    tray_->Show();
    for (int index : {kLivePage, kMediaPage, kCdPage, kNetworkPage, kPlayerPage})
        if (Page* page = PageAt(index)) page->ShowVideo(false);
}

void MainWindow::ShowFromTray() {
    for (int index : {kLivePage, kMediaPage, kCdPage, kNetworkPage, kPlayerPage})
        if (Page* page = PageAt(index)) page->ShowVideo(true);
    if (tray_) tray_->Hide();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::ShowAboutBox() {
    AboutBox box(programFolder_, services_, this);
    box.exec();
}

void MainWindow::ShowOptionsDialog() {
    ServiceFolderBrowser browser(services_.files);
    settings::OptionsDialog dialog(
        profiles_, &browser, new scheduler::SchedulePage(scheduler_->tasks(), services_), this);
    dialog.exec();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), controls::colors::kWindow);
    // The source bar and the bottom bar sit on the panel colour; pages have their own.
    painter.fillRect(QRect(0, 0, width(), 64), controls::colors::kPanel);
    painter.fillRect(QRect(0, 466, width(), height() - 466), controls::colors::kPanel);
    painter.setPen(controls::colors::kBorder);
    painter.drawLine(QPointF(0, 63.5), QPointF(width(), 63.5));
    painter.drawLine(QPointF(0, 466.5), QPointF(width(), 466.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    controls::DrawGlyph(painter, Glyph::Logo, QRectF(8, 4, 16, 16), controls::colors::kAccent);
    QFont title = font();
    title.setPixelSize(12);
    title.setWeight(QFont::DemiBold);
    painter.setFont(title);
    painter.setPen(controls::colors::kText);
    painter.drawText(QRect(30, 2, 200, kTitleHeight - 2), Qt::AlignLeft | Qt::AlignVCenter,
                     windowTitle());
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // The title area's right button opens what a system menu would hold.
    if (event->button() == Qt::RightButton && event->position().y() < kTitleHeight) {
        systemMenu_->popup(event->globalPosition().toPoint());
        return;
    }
    // The top area moves the window, as a title bar would.
    if (event->button() == Qt::LeftButton && event->position().y() < 64) {
        if (windowHandle() && windowHandle()->startSystemMove()) return;
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QWidget::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) move(event->globalPosition().toPoint() - dragOffset_);
    QWidget::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

}  // namespace quil::shell
