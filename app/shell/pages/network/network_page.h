#pragma once

// The network stream page, "Dump audio from streaming media": a list of stream URLs, filled by
// hand and by the stream sniffer watching one network adapter; Record grabs the selected URL
// into an output file, Play plays it. Streams are opened on a worker (StreamOpen) and every
// result of a worker reaches the page as a posted message, so page state changes only on the
// UI thread.

#include <QString>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell/page.h"
#include "app/shell/pages/network/grabber_retirement.h"
#include "app/shell/pages/network/stream_open.h"
#include "app/sniffer/stream_sniffer.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace quil::shell {
class VideoWindow;
}

namespace quil::network {

class UrlListModel;

// The settings value that keeps the adapter chosen last.
inline constexpr std::string_view kDefaultAdapterValue = "Default network adapter";

class NetworkPage final : public shell::Page {
    Q_OBJECT

public:
    explicit NetworkPage(shell::PageHost& host, QWidget* parent = nullptr);
    ~NetworkPage() override;

    int StartGrab() override;
    int PauseGrab() override;
    int StopGrab() override;
    int Play() override;
    int PausePlayback() override;
    int StopPlayback() override;
    int Previous() override;
    int Next() override;
    void ShowVideo(bool show) override;

    // Lists a URL once, selects its row and scrolls to it. False when it is already listed,
    // empty, or longer than a grabber takes (such a URL is never cut).
    bool AddUrl(const QString& url);
    static size_t MaxUrlBytes();

    const UrlListModel& Urls() const { return *urls_; }
    // Connecting, grabbing or playing (paused included).
    bool Busy() const { return opening_ || grabber_; }
    // Opens whose worker has not reported yet, abandoned ones included.
    size_t OpensUnderWay() const { return (opening_ ? 1 : 0) + abandoned_.size(); }
    // Playbacks still being ended off the UI thread.
    size_t PlaybacksEnding() { return retirement_.Pending(); }
    // The video window of the playing stream, or null.
    shell::VideoWindow* videoWindow() const { return video_.get(); }

protected:
    LRESULT OnMessage(const Message& message) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class Activity { None, Grab, Play };
    // URLs the capture thread found, waiting for the UI thread.
    struct SniffedUrls {
        std::mutex mutex;
        std::vector<std::string> urls;
        bool announced = false;
    };
    // An open under way, with the video window the UI thread gave its grabber (hidden until
    // the stream runs). The window is closed only once the worker has ended.
    struct Opening {
        std::unique_ptr<StreamOpen> open;
        std::unique_ptr<shell::VideoWindow> video;
        ~Opening();
    };

    void BuildControls();
    void ListAdapters();
    void SaveAdapter() const;

    void OnAddUrlPressed();
    void OnDeleteUrl();
    void OnDeleteAll();
    void OnStartSniffer();
    void OnStopSniffer();
    void TakeSniffedUrls();

    int SelectedRow() const;
    void SelectRow(int row);
    // Runs a paused grabber again; false when nothing is paused.
    bool Resume(int* result);
    void BeginOpen(const QString& url, Activity activity, int format, const std::string& path);
    void OnStreamWaiting(WPARAM id);
    void OnStreamOpened(WPARAM id);
    void AbandonOpening();
    void CloseGrabber();
    int StopActivity();
    void ReportStopped();
    void DrainGrabberEvents();
    int Step(int offset);
    QString StatusText(Activity activity) const;

    UrlListModel* urls_;
    QTreeView* list_;
    QComboBox* adapterSelector_;
    QLineEdit* urlEdit_;
    QPushButton* addUrl_;
    QPushButton* deleteUrl_;
    QPushButton* deleteAll_;
    QPushButton* startSniffer_;
    QPushButton* stopSniffer_;

    std::vector<AdapterEntry> adapters_;

    GrabberRetirement retirement_;
    GrabberPtr grabber_;
    std::unique_ptr<shell::VideoWindow> video_;  // declared after the grabber: closed first
    bool videoShown_ = true;                     // false while the main window is in the tray
    QString currentUrl_;
    Activity activity_ = Activity::None;

    std::unique_ptr<Opening> opening_;
    QString openingUrl_;
    Activity openingActivity_ = Activity::None;
    std::vector<std::unique_ptr<Opening>> abandoned_;
    WPARAM lastOpenId_ = 0;

    // Declared last: destroyed first, so the capture thread is joined before what it uses goes.
    std::unique_ptr<SniffedUrls> sniffed_;
    std::unique_ptr<StreamSniffer> sniffer_;
};

}  // namespace quil::network
