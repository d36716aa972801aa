#include "app/shell/pages/network/tests/page_test_util.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "app/controls/skin.h"
#include "app/settings/format_settings.h"
#include "app/settings/output_naming.h"
#include "app/settings/tests/wmf_profile_grabber.h"
#include "app/shell/testing/qt_application.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::network::test {

void EnsureApplication() {
    shell::testing::EnsureApplication();
    // The program's look, as Quilmain applies it, so sizes and screenshots are the user's.
    static const bool styled = [] {
        controls::ApplyProgramLook(*qApp);
        return true;
    }();
    (void)styled;
    static quil::test::NullSink sink("network");
    if (sink.Loaded()) setenv("PULSE_SINK", sink.name().c_str(), 1);
}

void NetworkPageTest::SetUp() {
    EnsureApplication();
    settings::ApplyStartupDefaults();
    // The main window lists the profiles once at start-up; so does the stand-in.
    static const settings::WmaProfileCatalogue catalogue = [] {
        settings::test::ProfileManagerGrabber grabber;
        return settings::WmaProfileCatalogue::BuildFrom(grabber);
    }();
    host.catalogue = catalogue;
    Recreate();
}

void NetworkPageTest::TearDown() {
    page.reset();
    EXPECT_EQ(offThreadChanges->load(), 0) << "the URL list was changed off the UI thread";
}

void NetworkPageTest::Recreate() {
    page.reset();
    page = std::make_unique<NetworkPage>(host);
    page->resize(663, 375);
    // Workers (the capture thread, the stream opens) reach the page only through posted
    // messages, so every change of its list happens on the UI thread.
    const auto* model = &page->Urls();
    auto check = [changes = offThreadChanges] {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++*changes;
    };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, check);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, check);
    QObject::connect(model, &QAbstractItemModel::dataChanged, check);
    QObject::connect(model, &QAbstractItemModel::modelReset, check);
}

QTreeView* NetworkPageTest::List() const {
    return page->findChild<QTreeView*>("urlList");
}

QLineEdit* NetworkPageTest::UrlEdit() const {
    return page->findChild<QLineEdit*>("urlEdit");
}

QComboBox* NetworkPageTest::Adapters() const {
    return page->findChild<QComboBox*>("adapterSelector");
}

QPushButton* NetworkPageTest::Button(const char* name) const {
    auto* button = page->findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

void NetworkPageTest::Click(const char* name) {
    QPushButton* button = Button(name);
    ASSERT_TRUE(button->isEnabled()) << name;
    button->click();
}

void NetworkPageTest::AddByHand(const QString& url) {
    UrlEdit()->setText(url);
    Click("addUrlButton");
}

void NetworkPageTest::Select(const QString& url) {
    const int row = page->Urls().Find(url);
    ASSERT_GE(row, 0) << url.toStdString();
    List()->selectionModel()->setCurrentIndex(
        page->Urls().index(row, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QStringList NetworkPageTest::ListedUrls() const {
    QStringList urls;
    for (int row = 0; row < page->Urls().rowCount(); ++row) urls << page->Urls().Url(row);
    return urls;
}

QString NetworkPageTest::Status(const QString& url) const {
    return page->Urls().Status(page->Urls().Find(url));
}

bool NetworkPageTest::Marked(const QString& url) const {
    return page->Urls().Marked(page->Urls().Find(url));
}

bool NetworkPageTest::WaitForStatus(const QString& url, const QString& status, int timeoutMs) {
    return shell::testing::WaitFor([&] { return Status(url) == status; }, timeoutMs);
}

int NetworkPageTest::CountPosted(UINT message) {
    host.Collect();
    int count = 0;
    for (const Message& posted : host.posted) count += posted.message == message ? 1 : 0;
    return count;
}

namespace {

// Milliseconds the calling thread spent runnable but waiting for a processor; 0 when the kernel
// does not say.
qint64 RunQueueDelayMs() {
    std::ifstream file("/proc/thread-self/schedstat");
    long long onCpu = 0, waiting = 0;
    if (!(file >> onCpu >> waiting)) return 0;
    return waiting / 1'000'000;
}

}  // namespace

TickGauge::TickGauge() {
    clock_.start();
    lastRunQueueMs_ = RunQueueDelayMs();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start();
}

void TickGauge::Tick() {
    const qint64 now = clock_.elapsed();
    const qint64 runQueue = RunQueueDelayMs();
    const qint64 gap = now - last_;
    longestRaw_ = std::max(longestRaw_, gap);
    longest_ = std::max(longest_, gap - (runQueue - lastRunQueueMs_));
    last_ = now;
    lastRunQueueMs_ = runQueue;
}

qint64 TickGauge::LongestGapMs() const {
    return longest_;
}

std::filesystem::path TaggedWma() {
    static const std::filesystem::path path = [] {
        auto file = quil::test::TestDir() / "tagged.wma";
        quil::test::RunCommand(
            "ffmpeg -nostdin -hide_banner -v error -y -f lavfi -i "
            "'sine=frequency=440:sample_rate=44100:duration=10' -ac 2 -c:a wmav2 -b:a 128k "
            "-metadata title='Night Grab' -metadata artist='Ada Corvane' '" +
            file.string() + "'");
        return file;
    }();
    return path;
}

std::filesystem::path VideoStream() {
    static const std::filesystem::path path = [] {
        auto file = quil::test::TestDir() / "bars.ts";
        quil::test::RunCommand(
            "ffmpeg -nostdin -hide_banner -v error -y -f lavfi -i "
            "'testsrc=size=320x240:rate=25:duration=10' -f lavfi -i "
            "'sine=frequency=440:sample_rate=44100:duration=10' -ac 2 -c:v libx264 -preset "
            "ultrafast -pix_fmt yuv420p -c:a mp2 -b:a 128k -f mpegts '" +
            file.string() + "'");
        return file;
    }();
    return path;
}

QList<shell::VideoWindow*> VideoWindows() {
    QList<shell::VideoWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* video = qobject_cast<shell::VideoWindow*>(widget)) windows << video;
    return windows;
}

int DistinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

std::string Probe(const std::filesystem::path& file, const std::string& entries) {
    std::string output;
    quil::test::RunCommand("ffprobe -v error -show_entries " + entries +
                               " -of default=noprint_wrappers=1:nokey=1 '" + file.string() + "'",
                           &output);
    return output;
}

double ProbedSeconds(const std::filesystem::path& file) {
    std::string text = Probe(file, "format=duration");
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? -1 : seconds;
}

double DecodedSeconds(const std::filesystem::path& file) {
    // Decodes everything to 8 kHz mono 16-bit and counts the bytes: 16000 a second.
    const auto raw = quil::test::TestDir() / "decoded.raw";
    int status = quil::test::RunCommand("ffmpeg -nostdin -v error -xerror -y -i '" + file.string() +
                                        "' -ac 1 -ar 8000 -f s16le '" + raw.string() + "'");
    std::error_code error;
    const auto bytes = std::filesystem::file_size(raw, error);
    std::filesystem::remove(raw, error);
    if (status != 0) return -1;
    return static_cast<double>(bytes) / 16000.0;
}

std::set<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        files.insert(entry.path());
    return files;
}

std::filesystem::path OutputFolder() {
    return settings::LoadNamingRule().folder;
}

}  // namespace quil::network::test
