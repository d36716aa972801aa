#include "app/shell/pages/network/network_page.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "app/settings/grabber_handover.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/network/url_list_model.h"
#include "app/shell/pages/player/video_window.h"
#include "app/shell/string_table.h"
#include "engine/core/grabber_types.h"
#include "platform/graph/interfaces.h"

namespace quil::network {

namespace {

// Page-private messages from the workers.
constexpr UINT kMsgUrlsSniffed = 0x8000 + 1;    // wParam, lParam unused
constexpr UINT kMsgStreamOpened = 0x8000 + 2;   // wParam: the open's id
constexpr UINT kMsgStreamWaiting = 0x8000 + 3;  // wParam: the open's id

constexpr int kCreateOutputFailedString = 130;
constexpr int kDiskFullString = 131;
constexpr int kSystemErrorString = 132;
constexpr int kPlayingString = 133;
constexpr int kStopString = 136;
constexpr int kPlayPauseString = 137;
constexpr int kGrabPauseString = 146;
constexpr int kPlayFailedString = 178;
constexpr int kGrabbingString = 196;
constexpr int kOpenDeviceFailedString = 204;
constexpr int kConnectingString = 205;
constexpr int kOptionFailedString = 57345;

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
constexpr int kBandHeight = 64;
constexpr int kStatusColumnWidth = 80;

// Grabbers cut longer source and output paths, so longer ones are refused instead.
constexpr size_t kLongestGrabberText = engine::kPathBytes - 1;

// The output name's date and time come from the program's clock service.
class ServiceClock final : public settings::Clock {
public:
    explicit ServiceClock(const shell::Clock* clock) : clock_(clock) {}
    std::tm LocalNow() const override {
        if (!clock_) return settings::SystemClock().LocalNow();
        const QDateTime now = clock_->Now();
        std::tm local{};
        local.tm_year = now.date().year() - 1900;
        local.tm_mon = now.date().month() - 1;
        local.tm_mday = now.date().day();
        local.tm_hour = now.time().hour();
        local.tm_min = now.time().minute();
        local.tm_sec = now.time().second();
        local.tm_wday = now.date().dayOfWeek() % 7;
        local.tm_yday = now.date().dayOfYear() - 1;
        local.tm_isdst = -1;
        return local;
    }

private:
    const shell::Clock* clock_;
};

// Takes the stored encoder options on the UI thread and replays them on the worker's grabber.
struct EncoderOptionRecorder {
    std::function<void(FileAudioGrabber&)> apply;

    int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality, int copyright,
                      int crc, int original, int privateBit) {
        apply = [=](FileAudioGrabber& grabber) {
            grabber.SetMp3Options(sampleRate, bitRate, channelMode, quality, copyright, crc,
                                  original, privateBit);
        };
        return 1;
    }
    int SetWmaProfile(int version, const char* name) {
        apply = [version, profile = std::string(name ? name : "")](FileAudioGrabber& grabber) {
            grabber.SetWmaProfile(version, profile.c_str());
        };
        return 1;
    }
    int SetOggOptions(int attribute, float quality, int32_t a, int32_t b, int32_t c) {
        apply = [=](FileAudioGrabber& grabber) {
            grabber.SetOggOptions(attribute, quality, a, b, c);
        };
        return 1;
    }
};

// "%2.0fkHz %dBits %s": whole kilohertz printed as a float, so 8000 Hz reads " 8kHz".
QString FormatText(const PCMWAVEFORMAT& format) {
    return QString::asprintf(
        "%2.0fkHz %dBits %s", static_cast<double>(format.nSamplesPerSec / 1000),
        static_cast<int>(format.wBitsPerSample), format.nChannels > 1 ? "Stereo" : "Mono");
}

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    return button;
}

}  // namespace

NetworkPage::NetworkPage(shell::PageHost& host, QWidget* parent)
    : Page(host, parent), urls_(new UrlListModel(this)), sniffed_(std::make_unique<SniffedUrls>()) {
    BuildControls();
    ListAdapters();
    // The capture thread only queues what it finds and posts one wake-up at a time.
    sniffer_ = std::make_unique<StreamSniffer>(
        [queue = sniffed_.get(), window = Handle()](std::string_view url) {
            std::lock_guard lock(queue->mutex);
            if (std::find(queue->urls.begin(), queue->urls.end(), url) == queue->urls.end())
                queue->urls.emplace_back(url);
            if (!queue->announced) {
                queue->announced = true;
                PostMessage(window, kMsgUrlsSniffed, 0, 0);
            }
        });
}

NetworkPage::Opening::~Opening() {
    // The worker may still be running the grabber: it ends before the window lets go of it.
    open->Abandon();
    StreamOpenResult result = open->Take();
    video.reset();
    result.grabber.reset();
}

NetworkPage::~NetworkPage() {
    SaveAdapter();
    // The capture thread is joined first; then nothing can post to this page any more but the
    // open workers, which are joined with their grabbers below.
    sniffer_->StopCapture();
    video_.reset();
    grabber_.reset();
    opening_.reset();
    abandoned_.clear();
}

void NetworkPage::BuildControls() {
    setObjectName("networkPage");
    setAccessibleName("Dump audio from streaming media");

    auto* adapterLabel = new QLabel("Network adapter", this);
    adapterSelector_ = new QComboBox(this);
    adapterSelector_->setObjectName("adapterSelector");
    adapterSelector_->setAccessibleName("Network adapter");
    adapterSelector_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    adapterSelector_->setMinimumContentsLength(24);
    adapterLabel->setBuddy(adapterSelector_);
    startSniffer_ = MakeButton("Start sniffer", "startSnifferButton", this);
    stopSniffer_ = MakeButton("Stop sniffer", "stopSnifferButton", this);

    auto* urlLabel = new QLabel("URL", this);
    urlEdit_ = new QLineEdit(this);
    urlEdit_->setObjectName("urlEdit");
    urlEdit_->setAccessibleName("URL");
    urlLabel->setBuddy(urlEdit_);
    addUrl_ = MakeButton("Add URL", "addUrlButton", this);

    list_ = new QTreeView(this);
    list_->setObjectName("urlList");
    list_->setAccessibleName("URL list");
    list_->setModel(urls_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(UrlListModel::kUrlColumn, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(UrlListModel::kStatusColumn, QHeaderView::Fixed);
    list_->header()->resizeSection(UrlListModel::kStatusColumn, kStatusColumnWidth);

    deleteUrl_ = MakeButton("Delete URL", "deleteUrlButton", this);
    deleteAll_ = MakeButton("Delete all", "deleteAllButton", this);

    auto* adapterRow = new QHBoxLayout;
    adapterRow->addWidget(adapterLabel);
    adapterRow->addWidget(adapterSelector_, 1);
    adapterRow->addWidget(startSniffer_);
    adapterRow->addWidget(stopSniffer_);
    auto* urlRow = new QHBoxLayout;
    urlRow->addWidget(urlLabel);
    urlRow->addWidget(urlEdit_, 1);
    urlRow->addWidget(addUrl_);
    auto* listButtons = new QHBoxLayout;
    listButtons->addStretch(1);
    listButtons->addWidget(deleteUrl_);
    listButtons->addWidget(deleteAll_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addLayout(adapterRow);
    layout->addLayout(urlRow);
    layout->addWidget(list_, 1);
    layout->addLayout(listButtons);

    connect(addUrl_, &QPushButton::clicked, this, &NetworkPage::OnAddUrlPressed);
    connect(urlEdit_, &QLineEdit::returnPressed, this, &NetworkPage::OnAddUrlPressed);
    connect(deleteUrl_, &QPushButton::clicked, this, &NetworkPage::OnDeleteUrl);
    connect(deleteAll_, &QPushButton::clicked, this, &NetworkPage::OnDeleteAll);
    connect(startSniffer_, &QPushButton::clicked, this, &NetworkPage::OnStartSniffer);
    connect(stopSniffer_, &QPushButton::clicked, this, &NetworkPage::OnStopSniffer);
    connect(adapterSelector_, &QComboBox::activated, this, [this] { SaveAdapter(); });
}

void NetworkPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient band(0, 0, 0, kBandHeight);
    band.setColorAt(0, palette().color(QPalette::Midlight));
    band.setColorAt(1, palette().color(QPalette::Window));
    painter.fillRect(QRect(0, 0, width(), kBandHeight), band);
}

void NetworkPage::ListAdapters() {
    adapters_ = StreamSniffer::EnumerateAdapters();
    for (const AdapterEntry& adapter : adapters_) {
        // Most Linux devices have no description; their device name stands in for it.
        const std::string& shown = adapter.description.empty() ? adapter.name : adapter.description;
        adapterSelector_->addItem(QString::fromStdString(shown), adapter.id);
    }
    const std::string stored =
        settings::SettingsKey::ForLoad().ReadString(kDefaultAdapterValue, "");
    const int index = stored.empty()
                          ? -1
                          : adapterSelector_->findText(QString::fromStdString(stored),
                                                       Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (adapterSelector_->count() > 0) adapterSelector_->setCurrentIndex(std::max(index, 0));
}

void NetworkPage::SaveAdapter() const {
    if (adapterSelector_->count() == 0) return;
    settings::SettingsKey::ForSave().WriteString(kDefaultAdapterValue,
                                                 adapterSelector_->currentText().toStdString());
}

size_t NetworkPage::MaxUrlBytes() {
    return kLongestGrabberText;
}

bool NetworkPage::AddUrl(const QString& url) {
    if (url.isEmpty() || static_cast<size_t>(url.toUtf8().size()) > MaxUrlBytes()) return false;
    const int row = urls_->Add(url);
    if (row < 0) return false;
    SelectRow(row);
    return true;
}

void NetworkPage::OnAddUrlPressed() {
    const QString url = urlEdit_->text().trimmed();
    if (url.isEmpty()) return;
    if (static_cast<size_t>(url.toUtf8().size()) > MaxUrlBytes()) {
        services().messages->Warn(
            this, QString("The URL is %1 bytes long; Quillet can open URLs of at most %2 bytes. "
                          "It was not added.")
                      .arg(url.toUtf8().size())
                      .arg(MaxUrlBytes()));
        return;
    }
    AddUrl(url);
}

void NetworkPage::OnDeleteUrl() {
    const int row = SelectedRow();
    if (row < 0) return;
    // The open stream, if this is its row, goes on.
    urls_->Remove(row);
    if (urls_->rowCount() == 0) return;
    SelectRow(row == urls_->rowCount() ? 0 : row);
}

void NetworkPage::OnDeleteAll() {
    urls_->Clear();
}

void NetworkPage::OnStartSniffer() {
    std::string name;
    const QVariant id = adapterSelector_->currentData();
    for (const AdapterEntry& adapter : adapters_)
        if (id.isValid() && adapter.id == id.toInt()) name = adapter.name;
    if (name.empty() || !sniffer_->StartCapture(name)) {
        services().messages->ShowString(this, kOpenDeviceFailedString);
        return;
    }
    startSniffer_->setEnabled(false);
    adapterSelector_->setEnabled(false);
}

void NetworkPage::OnStopSniffer() {
    sniffer_->StopCapture();
    startSniffer_->setEnabled(true);
    adapterSelector_->setEnabled(true);
}

void NetworkPage::TakeSniffedUrls() {
    std::vector<std::string> found;
    {
        std::lock_guard lock(sniffed_->mutex);
        found.swap(sniffed_->urls);
        sniffed_->announced = false;
    }
    for (const std::string& url : found) {
        if (url.size() > MaxUrlBytes()) {
            std::fprintf(stderr, "Stream URL of %zu bytes not listed: too long to open.\n",
                         url.size());
            continue;
        }
        AddUrl(QString::fromStdString(url));
    }
}

int NetworkPage::SelectedRow() const {
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& index : rows)
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

void NetworkPage::SelectRow(int row) {
    const QModelIndex index = urls_->index(row, UrlListModel::kUrlColumn);
    list_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list_->scrollTo(index);
}

QString NetworkPage::StatusText(Activity activity) const {
    return shell::LoadString(activity == Activity::Grab ? kGrabbingString : kPlayingString);
}

bool NetworkPage::Resume(int* result) {
    if (currentUrl_.isEmpty() || !grabber_ || grabber_->GetState() != engine::kPaused) return false;
    *result = grabber_->Run();
    if (*result) urls_->SetStatus(currentUrl_, StatusText(activity_), true);
    return true;
}

int NetworkPage::StartGrab() {
    int resumed = 0;
    if (Resume(&resumed)) return resumed;
    const int row = SelectedRow();
    if (row < 0) return 0;
    const int format = host().CurrentOutputFormat();
    ServiceClock clock(services().clock);
    const settings::OutputPath output = settings::BuildOutputPath(format, clock);
    if (output.path.empty() || output.path.size() > kLongestGrabberText) {
        services().messages->ShowString(this, kCreateOutputFailedString);
        return 0;
    }
    BeginOpen(urls_->Url(row), Activity::Grab, format, output.path);
    return 1;
}

int NetworkPage::Play() {
    int resumed = 0;
    if (Resume(&resumed)) return resumed;
    const int row = SelectedRow();
    if (row < 0) return 0;
    BeginOpen(urls_->Url(row), Activity::Play, 0, {});
    return 1;
}

void NetworkPage::BeginOpen(const QString& url, Activity activity, int format,
                            const std::string& path) {
    AbandonOpening();
    CloseGrabber();
    StreamOpenRequest request;
    request.url = url.toStdString();
    request.grab = activity == Activity::Grab;
    request.outputFormat = format;
    request.outputPath = path;
    if (request.grab) {
        EncoderOptionRecorder options;
        settings::HandOverOptions(options, format, host().WmaProfiles());
        request.encoderOptions = std::move(options.apply);
    }
    request.eventWindow = Handle();
    request.eventMessage = shell::MSG_GRAB_EVENT;
    opening_ = std::make_unique<Opening>();
    opening_->open = std::make_unique<StreamOpen>(
        std::move(request), StreamOpenReports{Handle(), kMsgStreamWaiting, kMsgStreamOpened},
        ++lastOpenId_);
    openingUrl_ = url;
    openingActivity_ = activity;
    urls_->UnmarkAll();
    urls_->SetStatus(url, shell::LoadString(kConnectingString), true);
}

void NetworkPage::OnStreamWaiting(WPARAM id) {
    // An abandoned open's worker was woken by Abandon and goes on by itself.
    if (!opening_ || opening_->open->Id() != id) return;
    // The stream has video: its window takes the grabber before it runs, and is shown once it
    // plays. Until then it stays hidden, so nothing here calls the grabber while it starts.
    if (FileAudioGrabber* grabber = opening_->open->Waiting())
        opening_->video = std::make_unique<shell::VideoWindow>(grabber);
    opening_->open->Proceed(opening_->video != nullptr);
}

void NetworkPage::OnStreamOpened(WPARAM id) {
    if (!opening_ || opening_->open->Id() != id) {
        // An abandoned open: its window closes, then its grabber, if any, ends off this thread.
        auto it = std::find_if(abandoned_.begin(), abandoned_.end(),
                               [id](const auto& opening) { return opening->open->Id() == id; });
        if (it != abandoned_.end()) {
            StreamOpenResult result = (*it)->open->Take();
            (*it)->video.reset();
            retirement_.Retire(std::move(result.grabber));
            abandoned_.erase(it);
        }
        return;
    }
    std::unique_ptr<Opening> opening = std::move(opening_);
    StreamOpenResult result = opening->open->Take();
    std::unique_ptr<shell::VideoWindow> video = std::move(opening->video);
    const QString url = openingUrl_;
    const Activity activity = openingActivity_;
    openingUrl_.clear();
    openingActivity_ = Activity::None;

    if (!result.running) {
        video.reset();
        retirement_.Retire(std::move(result.grabber));
        urls_->SetStatus(url, shell::LoadString(kStopString), false);
        ReportStopped();
        if (activity == Activity::Grab)
            services().messages->ShowString(this, kOptionFailedString);
        else
            services().messages->ShowString(this, kPlayFailedString);
        return;
    }
    grabber_ = std::move(result.grabber);
    currentUrl_ = url;
    activity_ = activity;
    host().SetPathText(QString("Title: %1  Author: %2")
                           .arg(QString::fromUtf8(result.title.c_str()),
                                QString::fromUtf8(result.author.c_str())));
    video_ = std::move(video);
    if (video_ && videoShown_) video_->ShowWindow();
    // A stream whose audio format the grabber did not see reports an all-zero format.
    if (result.haveSourceFormat && result.sourceFormat.nSamplesPerSec > 0)
        host().SetFormatText(FormatText(result.sourceFormat));
    urls_->SetStatus(url, StatusText(activity), true);
    PostToMain(shell::MSG_STARTED);
    // Events the grabber posted before it was handed over are waiting in its queue.
    DrainGrabberEvents();
}

void NetworkPage::AbandonOpening() {
    if (!opening_) return;
    opening_->open->Abandon();
    abandoned_.push_back(std::move(opening_));
    openingUrl_.clear();
    openingActivity_ = Activity::None;
}

void NetworkPage::CloseGrabber() {
    if (!grabber_) return;
    // The window stops drawing for the grabber before the grabber goes.
    video_.reset();
    // A grab is ended here, so its file is complete once the row says "Stop".
    if (activity_ == Activity::Play)
        retirement_.Retire(std::move(grabber_));
    else
        grabber_.reset();
    urls_->SetStatus(currentUrl_, shell::LoadString(kStopString), false);
    urls_->UnmarkAll();
    currentUrl_.clear();
    activity_ = Activity::None;
}

int NetworkPage::StopActivity() {
    if (opening_) {
        const QString url = openingUrl_;
        AbandonOpening();
        urls_->SetStatus(url, shell::LoadString(kStopString), false);
        urls_->UnmarkAll();
        ReportStopped();
        return 1;
    }
    if (!grabber_) return 0;
    CloseGrabber();
    ReportStopped();
    return 1;
}

void NetworkPage::ReportStopped() {
    PostToMain(shell::MSG_STOPPED_PLAYER);
    host().SetFormatText({});
    host().SetPathText({});
}

int NetworkPage::StopGrab() {
    return StopActivity();
}

int NetworkPage::StopPlayback() {
    return StopActivity();
}

int NetworkPage::PauseGrab() {
    if (!grabber_ || !grabber_->Pause()) return 0;
    urls_->SetStatus(currentUrl_, shell::LoadString(kGrabPauseString), true);
    return 1;
}

int NetworkPage::PausePlayback() {
    if (!grabber_ || !grabber_->Pause()) return 0;
    urls_->SetStatus(currentUrl_, shell::LoadString(kPlayPauseString), true);
    return 1;
}

int NetworkPage::Previous() {
    return Step(-1);
}

int NetworkPage::Next() {
    return Step(1);
}

int NetworkPage::Step(int offset) {
    const QString& from = opening_ ? openingUrl_ : currentUrl_;
    const int row = urls_->Find(from);
    if (row < 0) return 0;
    const int target = row + offset;
    if (target < 0 || target >= urls_->rowCount()) return 0;
    // The main window stays busy: the next stream's open reports its own start or failure.
    BeginOpen(urls_->Url(target), Activity::Play, 0, {});
    host().SetFormatText({});
    host().SetPathText({});
    return 1;
}

void NetworkPage::ShowVideo(bool show) {
    videoShown_ = show;
    if (!video_) return;
    if (show)
        video_->ShowWindow();
    else
        video_->HideWindow();
}

void NetworkPage::DrainGrabberEvents() {
    while (grabber_) {
        long code = 0, param1 = 0, param2 = 0;
        if (!grabber_->GetEvent(&code, &param1, &param2)) return;
        grabber_->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE || code == EC_USERABORT) {
            // The stream ended: what was written so far stays.
            StopActivity();
            return;
        }
        if (code == EC_ERRORABORT) {
            const Activity activity = activity_;
            StopActivity();
            if (activity == Activity::Grab) {
                const bool diskFull = static_cast<HRESULT>(param1) == kDiskFull;
                services().messages->ShowString(this,
                                                diskFull ? kDiskFullString : kSystemErrorString);
            } else {
                services().messages->ShowString(this, kPlayFailedString);
            }
            return;
        }
    }
}

LRESULT NetworkPage::OnMessage(const Message& message) {
    switch (message.message) {
        case kMsgUrlsSniffed:
            TakeSniffedUrls();
            return 1;
        case kMsgStreamWaiting:
            OnStreamWaiting(message.wParam);
            return 1;
        case kMsgStreamOpened:
            OnStreamOpened(message.wParam);
            return 1;
        case shell::MSG_GRAB_EVENT:
            DrainGrabberEvents();
            return 1;
        default:
            return 0;
    }
}

}  // namespace quil::network
