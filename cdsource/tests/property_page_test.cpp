// The CD source property page on the real filter and disc images, under the offscreen platform.

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>
#include <filesystem>

#include "cdsource/page/cd_track_source_property_page.h"
#include "cdsource/page/property_frame.h"
#include "cdsource/page/property_page.h"
#include "cdsource/tests/cd_test_util.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;
using quil::QueryAs;
using quil::cdsource::CdTrackSourcePropertyPage;

constexpr uint32_t kLong = 4 * 4500 + 33 * 75 + 12;

class PropertyPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "property_page_test";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
    }

    void SetUp() override {
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("page");
        audio_ = quil::test::WriteCdImage(dir_, "audio", {{true, 0, kLong, 0}, {true, 0, 750, 0}});
        data_ = quil::test::WriteCdImage(dir_, "data", {{false, 0, 300, 0}});
        // The third virtual drive names an image that is not there: listed as a CD-ROM drive
        // by the system, but it does not open.
        letters_ = quil::test::MountImages({audio_.cue, data_.cue});
        std::vector<std::string> paths = {audio_.cue.string(), data_.cue.string(),
                                          (dir_ / "gone.cue").string()};
        ASSERT_TRUE(quil::sectorlink::WriteVirtualDrives(paths));
        ASSERT_EQ(CoCreateInstance(CLSID_CdTrackSource, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(filter_.Put())),
                  S_OK);
        source_ = QueryAs<ICdTrackSource>(filter_.Get());
    }

    std::unique_ptr<CdTrackSourcePropertyPage> NewPage() {
        auto page = std::make_unique<CdTrackSourcePropertyPage>();
        page->SetErrorBox([this](QWidget*, const QString& caption, const QString& text) {
            errors_.push_back(caption + ": " + text);
        });
        return page;
    }
    static QString Root(int letter) { return QString(QChar(letter)) + ":\\"; }

    fs::path dir_;
    quil::test::CdImage audio_, data_;
    std::vector<int> letters_;
    ComPtr<IBaseFilter> filter_;
    ComPtr<ICdTrackSource> source_;
    QStringList errors_;
};

TEST_F(PropertyPageTest, ShowsTheFixedCaptions) {
    auto page = NewPage();
    auto* group = page->findChild<QGroupBox*>();
    ASSERT_TRUE(group);
    EXPECT_EQ(group->title(), "Ostrel Sectorreel Source");
    QStringList labels;
    for (auto* label : group->findChildren<QLabel*>())
        if (!label->text().isEmpty()) labels << label->text();
    EXPECT_EQ(labels, (QStringList{"Track:", "Length:", "ReadSetcor", "Sectors",
                                   "Max Read Capability", "Sectors"}));
    EXPECT_EQ(page->ejectButton()->text(), "Eject");
    EXPECT_EQ(page->closeButton()->text(), "Close");
    EXPECT_TRUE(page->length()->isReadOnly());
    EXPECT_STREQ(quil::cdsource::DiscKindText(5), "Data DVD");
    EXPECT_STREQ(quil::cdsource::DiscKindText(9), "No Disk");
}

TEST_F(PropertyPageTest, ConnectsOnceToACdSourceOnly) {
    auto page = NewPage();
    EXPECT_EQ(page->Disconnect(), E_UNEXPECTED);
    auto graph = quil::test::NewGraph();
    EXPECT_EQ(page->Connect(graph.Get()), E_NOINTERFACE);
    EXPECT_EQ(page->Connect(filter_.Get()), S_OK);
    EXPECT_EQ(page->Connect(filter_.Get()), E_UNEXPECTED);
    EXPECT_EQ(page->Disconnect(), S_OK);
    EXPECT_EQ(page->Disconnect(), E_UNEXPECTED);
}

// Showing the page switches the filter to the first listed drive and its track 1, whatever was
// chosen before.
TEST_F(PropertyPageTest, ShowingThePageSelectsTheFirstDriveAndTrack) {
    ASSERT_EQ(source_->SetDrive(letters_[1]), S_OK);
    ASSERT_EQ(source_->SetCurrentTrack(2), S_OK);
    ASSERT_EQ(source_->SetSectorsPerRead(8), S_OK);
    auto page = NewPage();
    ASSERT_EQ(page->Connect(filter_.Get()), S_OK);
    page->Activate();
    EXPECT_TRUE(page->IsActive());

    ASSERT_EQ(page->drives()->count(), 2);  // the image that is gone is not listed
    EXPECT_EQ(page->drives()->itemText(0), Root(letters_[0]));
    EXPECT_EQ(page->drives()->itemText(1), Root(letters_[1]));
    EXPECT_EQ(page->discKind()->text(), "Audio CD");
    ASSERT_EQ(page->tracks()->count(), 2);
    EXPECT_EQ(page->tracks()->itemText(0), "1");
    EXPECT_EQ(page->tracks()->itemText(1), "2");
    EXPECT_EQ(page->length()->text(), "0:4:33");
    EXPECT_EQ(page->capability()->text(), "16");
    EXPECT_EQ(page->sectors()->text(), "8");
    int32_t track = 0, kind = 0;
    source_->GetCurrentTrack(&track);
    source_->GetDiscKind(&kind);
    EXPECT_EQ(track, 1);
    EXPECT_EQ(kind, 1);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();

    page->tracks()->setCurrentIndex(1);
    source_->GetCurrentTrack(&track);
    EXPECT_EQ(track, 2);
    EXPECT_EQ(page->length()->text(), "0:0:10");
}

TEST_F(PropertyPageTest, ADataDiscLeavesTheTrackListAlone) {
    auto page = NewPage();
    ASSERT_EQ(page->Connect(filter_.Get()), S_OK);
    page->Activate();
    page->drives()->setCurrentIndex(1);
    EXPECT_EQ(page->discKind()->text(), "Data CD");
    EXPECT_EQ(page->tracks()->count(), 2);
    EXPECT_EQ(page->length()->text(), "0:4:33");
    EXPECT_TRUE(errors_.isEmpty());
}

// A drive whose disc went away after the scan: the error names its root, and there is no disc.
TEST_F(PropertyPageTest, ADriveThatNoLongerOpensShowsNoDisk) {
    auto page = NewPage();
    ASSERT_EQ(page->Connect(filter_.Get()), S_OK);
    page->Activate();
    fs::remove(data_.cue);
    fs::remove(data_.bin);
    page->drives()->setCurrentIndex(1);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Error: Open " + Root(letters_[1]) + " Error!");
    EXPECT_EQ(page->discKind()->text(), "No Disk");
}

TEST_F(PropertyPageTest, RefusesMoreSectorsThanTheDriveCanRead) {
    auto page = NewPage();
    ASSERT_EQ(page->Connect(filter_.Get()), S_OK);
    page->Activate();
    uint32_t sectors = 0;
    page->sectors()->setText("12ab");
    source_->GetSectorsPerRead(&sectors);
    EXPECT_EQ(sectors, 12u);
    page->sectors()->setText("20");
    source_->GetSectorsPerRead(&sectors);
    EXPECT_EQ(sectors, 12u);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Error: Not incorrect value!");
    page->sectors()->setText("x");  // no digits: 0, which the filter refuses
    source_->GetSectorsPerRead(&sectors);
    EXPECT_EQ(sectors, 12u);
    page->ejectButton()->click();  // a disc image has no tray; nothing is shown
    page->closeButton()->click();
    EXPECT_EQ(errors_.size(), 1);
}

class RecordingSite : public quil::ComImpl<IPropertyPageSite> {
public:
    HRESULT OnStatusChange(DWORD flags) override {
        changes |= flags;
        return S_OK;
    }
    HRESULT GetLocaleID(DWORD*) override { return E_NOTIMPL; }
    HRESULT GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }
    DWORD changes = 0;
};

// The page class created by id through trackpump, as a frame does.
TEST_F(PropertyPageTest, ThePageClassWorksThroughTheFilterPlugin) {
    auto pages = QueryAs<ISpecifyPropertyPages>(filter_.Get());
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(
        CoCreateInstance(list.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(page.Put())),
        S_OK);
    CoTaskMemFree(list.pElems);
    auto site = quil::MakeCom<RecordingSite>();
    EXPECT_EQ(page->SetPageSite(site.Get()), S_OK);
    IUnknown* objects[] = {filter_.Get()};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    EXPECT_EQ(page->SetObjects(1, objects), E_UNEXPECTED);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.pszTitle), L"Ostrel Sectorreel");
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    ASSERT_EQ(page->Activate(nullptr, nullptr, TRUE), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_TRUE(site->changes & PROPPAGESTATUS_DIRTY);
    EXPECT_EQ(page->Apply(), S_OK);
    auto widget = QueryAs<IPropertyPageWidget>(page.Get());
    ASSERT_TRUE(widget && widget->Widget());
    auto* view = qobject_cast<CdTrackSourcePropertyPage*>(widget->Widget());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->discKind()->text(), "Audio CD");
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), E_UNEXPECTED);
}

TEST_F(PropertyPageTest, TheFrameShowsThePagesOfTheFilter) {
    {
        quil::cdsource::PropertyFrame frame(nullptr, "CD Source Properties", filter_.Get());
        ASSERT_EQ(frame.PageCount(), 1);
        EXPECT_EQ(frame.tabs()->tabText(0), "Ostrel Sectorreel");
        auto* view = qobject_cast<CdTrackSourcePropertyPage*>(frame.tabs()->widget(0));
        ASSERT_TRUE(view);
        EXPECT_EQ(view->discKind()->text(), "Audio CD");
        EXPECT_TRUE(frame.applyButton()->isEnabled());  // the dialog start changed the filter
        frame.applyButton()->click();
        EXPECT_FALSE(frame.applyButton()->isEnabled());
        frame.show();
        QApplication::processEvents();
    }
    // An object without pages gives an empty frame.
    auto graph = quil::test::NewGraph();
    quil::cdsource::PropertyFrame empty(nullptr, "Nothing", graph.Get());
    EXPECT_EQ(empty.PageCount(), 0);
}

}  // namespace
