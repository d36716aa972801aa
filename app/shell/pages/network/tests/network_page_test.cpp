// The URL list, the adapter selector and the commands that need no stream.

#include <QAbstractItemModel>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/network/tests/page_test_util.h"
#include "platform/registry/registry.h"

namespace quil::network::test {
namespace {

using shell::testing::WaitFor;

const QString kFirst = "mms://127.0.0.1/live/first.wma";
const QString kSecond = "rtsp://127.0.0.1/live/second.rm";
const QString kThird = "http://127.0.0.1/live/third.mp3";

TEST_F(NetworkPageTest, ListShowsUrlAndStatusColumnsWithTheirHeadersAndTooltips) {
    page->show();
    const QAbstractItemModel* model = List()->model();
    ASSERT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "URL");
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Status");
    EXPECT_EQ(List()->header()->sectionSize(1), 80);
    EXPECT_EQ(List()->header()->sectionSize(0), List()->viewport()->width() - 80);

    AddByHand(kFirst);
    const QModelIndex url = model->index(0, 0), status = model->index(0, 1);
    EXPECT_EQ(model->data(url).toString(), kFirst);
    EXPECT_EQ(model->data(url, Qt::ToolTipRole).toString(), kFirst);
    EXPECT_EQ(model->data(status, Qt::ToolTipRole).toString(), kFirst);
    EXPECT_EQ(model->data(status).toString(), "");
    EXPECT_EQ(model->data(status, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    EXPECT_FALSE(model->data(url, Qt::DecorationRole).isNull());

    for (auto* widget : page->findChildren<QWidget*>()) {
        if (qobject_cast<QPushButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QTreeView*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        }
    }
    for (const char* caption :
         {"Add URL", "Delete URL", "Delete all", "Start sniffer", "Stop sniffer"}) {
        bool found = false;
        for (auto* button : page->findChildren<QPushButton*>()) found |= button->text() == caption;
        EXPECT_TRUE(found) << caption;
    }
}

TEST_F(NetworkPageTest, AUrlIsListedOnceWhetherAddedByHandOrFound) {
    AddByHand(kFirst);
    AddByHand(kSecond);
    EXPECT_EQ(ListedUrls(), QStringList({kFirst, kSecond}));
    // The new row is the selected one.
    EXPECT_EQ(List()->selectionModel()->selectedRows().value(0).row(), 1);

    AddByHand(kFirst);
    EXPECT_FALSE(page->AddUrl(kFirst));
    EXPECT_FALSE(page->AddUrl(kSecond));
    EXPECT_EQ(ListedUrls(), QStringList({kFirst, kSecond}));
    // The comparison is exact: another case is another URL.
    EXPECT_TRUE(page->AddUrl("MMS://127.0.0.1/live/first.wma"));
    EXPECT_EQ(page->Urls().rowCount(), 3);
    EXPECT_EQ(List()->selectionModel()->selectedRows().value(0).row(), 2);

    // An empty edit adds nothing; blanks around a URL are not part of it.
    AddByHand("");
    AddByHand("   ");
    AddByHand("  " + kThird + " ");
    EXPECT_EQ(page->Urls().rowCount(), 4);
    EXPECT_EQ(page->Urls().Url(3), kThird);
    EXPECT_TRUE(Boxes().isEmpty());
}

TEST_F(NetworkPageTest, AUrlLongerThanAGrabberTakesIsRefusedWithAMessageNeverCut) {
    const size_t longest = NetworkPage::MaxUrlBytes();
    // A grabber takes source paths and URLs up to PATH_MAX bytes.
    ASSERT_EQ(longest, size_t(PATH_MAX - 1));
    const QString prefix = "http://127.0.0.1/";
    const QString fits = prefix + QString(int(longest) - prefix.size() - 4, 'a') + ".wma";
    ASSERT_EQ(fits.toUtf8().size(), qsizetype(longest));
    AddByHand(fits);
    EXPECT_EQ(ListedUrls(), QStringList({fits}));

    const QString tooLong = prefix + QString(int(longest) - prefix.size() - 3, 'b') + ".wma";
    AddByHand(tooLong);
    EXPECT_EQ(ListedUrls(), QStringList({fits}));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].contains(QString::number(longest) + " bytes"))
        << Boxes()[0].toStdString();
    // What the user typed stays in the edit to be shortened.
    EXPECT_EQ(UrlEdit()->text(), tooLong);

    // Multibyte characters count in bytes.
    const QString wide =
        prefix + QString((int(longest) - prefix.size()) / 2, QChar(0x00e9)) + ".wma";
    AddByHand(wide);
    EXPECT_EQ(page->Urls().rowCount(), 1);
    EXPECT_EQ(Boxes().size(), 2);

    // Found URLs that long are dropped without a box.
    EXPECT_FALSE(page->AddUrl(tooLong));
    EXPECT_EQ(Boxes().size(), 2);
}

TEST_F(NetworkPageTest, DeleteUrlTakesTheSelectedRowAndSelectsTheNextOrTheFirst) {
    Click("deleteUrlButton");  // empty list: nothing happens
    AddByHand(kFirst);
    AddByHand(kSecond);
    AddByHand(kThird);

    List()->selectionModel()->clearSelection();
    Click("deleteUrlButton");
    EXPECT_EQ(page->Urls().rowCount(), 3);

    Select(kSecond);
    Click("deleteUrlButton");
    EXPECT_EQ(ListedUrls(), QStringList({kFirst, kThird}));
    EXPECT_EQ(List()->selectionModel()->selectedRows().value(0).row(), 1);

    // The last row goes: the first row is selected.
    Click("deleteUrlButton");
    EXPECT_EQ(ListedUrls(), QStringList({kFirst}));
    EXPECT_EQ(List()->selectionModel()->selectedRows().value(0).row(), 0);

    AddByHand(kSecond);
    Click("deleteAllButton");
    EXPECT_EQ(page->Urls().rowCount(), 0);
    Click("deleteUrlButton");
    Click("deleteAllButton");
    EXPECT_EQ(page->Urls().rowCount(), 0);
}

TEST_F(NetworkPageTest, CommandsWithoutASelectedRowOrAStreamFail) {
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_EQ(page->Play(), 0);
    EXPECT_EQ(page->PauseGrab(), 0);
    EXPECT_EQ(page->PausePlayback(), 0);
    EXPECT_EQ(page->StopGrab(), 0);
    EXPECT_EQ(page->StopPlayback(), 0);
    EXPECT_EQ(page->Previous(), 0);
    EXPECT_EQ(page->Next(), 0);
    AddByHand(kFirst);
    List()->selectionModel()->clearSelection();
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_EQ(page->Play(), 0);
    EXPECT_EQ(page->OpensUnderWay(), 0u);
    EXPECT_EQ(Status(kFirst), "");
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
}

TEST_F(NetworkPageTest, RecordWithoutAnOutputPathSaysSoAndOpensNothing) {
    AddByHand(kFirst);
    auto parent = registry::Key::Open(registry::Root::LocalMachine, "SOFTWARE\\Corvane");
    ASSERT_TRUE(parent.has_value());
    ASSERT_TRUE(parent->DeleteSubKey("Quillet"));
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_EQ(Boxes(), QStringList({"Create output file failed."}));
    EXPECT_EQ(page->OpensUnderWay(), 0u);
    EXPECT_EQ(Status(kFirst), "");
    EXPECT_FALSE(page->Busy());
    settings::ApplyStartupDefaults();
}

TEST_F(NetworkPageTest, AdaptersAreListedAndTheLastChoiceIsSelectedAfterARestart) {
    QComboBox* adapters = Adapters();
    if (adapters->count() < 2) GTEST_SKIP() << "fewer than two network adapters here";
    EXPECT_EQ(adapters->currentIndex(), 0);
    const int last = adapters->count() - 1;
    const QString chosen = adapters->itemText(last);
    adapters->setCurrentIndex(last);
    emit adapters->activated(last);
    Recreate();
    EXPECT_EQ(Adapters()->currentText(), chosen);
    EXPECT_EQ(settings::SettingsKey::ForLoad().ReadString(kDefaultAdapterValue, ""),
              chosen.toStdString());

    // The choice at the end of the run counts, also one not yet stored when it was made.
    const QString other = Adapters()->itemText(1);
    ASSERT_NE(other, chosen);
    Adapters()->setCurrentIndex(1);
    Recreate();
    EXPECT_EQ(Adapters()->currentText(), other);

    // A description no adapter has any more selects the first one.
    page.reset();
    settings::SettingsKey::ForSave().WriteString(kDefaultAdapterValue, "Gone adapter");
    Recreate();
    EXPECT_EQ(Adapters()->currentIndex(), 0);
}

TEST_F(NetworkPageTest, StartSnifferWithoutAnAdapterSaysTheDeviceCannotBeOpened) {
    Adapters()->clear();
    Click("startSnifferButton");
    EXPECT_EQ(Boxes(), QStringList({"Open device failed! Please select ohters and try again."}));
    EXPECT_TRUE(Button("startSnifferButton")->isEnabled());
    EXPECT_TRUE(Adapters()->isEnabled());
    // Stop is always there and harmless.
    Click("stopSnifferButton");
    EXPECT_TRUE(Button("startSnifferButton")->isEnabled());
}

}  // namespace
}  // namespace quil::network::test
