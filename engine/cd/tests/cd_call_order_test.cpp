// The CD grabber's table called in orders a page would not use: a failed chain, a second chain,
// clearing a paused graph, and random sequences of every operation. Every call answers 0 or 1,
// the state stays one of the four, and nothing crashes (the sanitizer build runs these too).

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cdsource/tests/cd_test_util.h"
#include "engine/cd/cd_grabber_internal.h"
#include "platform/graph/base_filter.h"
#include "platform/window/window.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;

std::vector<std::wstring> FilterNames(IGraphBuilder* graph) {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> list;
    graph->EnumFilters(list.Put());
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
        names.push_back(quil::FilterName(filter));
        filter->Release();
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CdCallOrder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("cd_order");
        auto image =
            quil::test::WriteCdImage(dir_, "disc", {{true, 0, 150, 440}, {true, 0, 75, 0}});
        letter_ = quil::test::MountImages({image.cue})[0];
        grabber_ = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
        ASSERT_TRUE(grabber_);
    }
    void TearDown() override {
        if (grabber_) {
            grabber_->ReleaseGraph();
            grabber_->Destroy();
        }
        CoFreeUnusedLibraries();
    }
    void Ready() {
        ASSERT_EQ(grabber_->CreateGraph(), 1);
        ASSERT_EQ(grabber_->SetDrive(letter_), 1);
        ASSERT_EQ(grabber_->SetCurrentTrack(1), 1);
        ASSERT_EQ(grabber_->SetOutputFile((dir_ / "out.wav").c_str()), 1);
    }
    std::vector<std::wstring> Names() { return FilterNames(quil::engine::GraphOf(grabber_)); }

    fs::path dir_;
    int letter_ = 0;
    CDAudioGrabber* grabber_ = nullptr;
};

const std::vector<std::wstring> kWavChain = {L"CD Source", L"File Writer", L"Wave Dest"};

TEST_F(CdCallOrder, ASecondChainIsRefusedAndTheFirstStillRuns) {
    Ready();
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 0), 0);
    EXPECT_EQ(Names(), kWavChain);
    EXPECT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->Stop(), 1);
}

TEST_F(CdCallOrder, AFailedChainLeavesNothingThatRuns) {
    Ready();
    grabber_->SetWmaProfile(7, "no such profile");
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 2), 0);
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"CD Source"});
    EXPECT_EQ(grabber_->Run(), 0);
    EXPECT_EQ(grabber_->GetState(), 3);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    EXPECT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->Stop(), 1);
}

TEST_F(CdCallOrder, ClearingAPausedGraphStopsItAndLaterChainsBuild) {
    Ready();
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    ASSERT_EQ(grabber_->Run(), 1);
    ASSERT_EQ(grabber_->Pause(), 1);
    EXPECT_EQ(grabber_->ClearOutput(), 1);
    EXPECT_EQ(grabber_->GetState(), 3);
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"CD Source"});
    grabber_->SetWmaProfile(7, "no such profile");
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 2), 0);
    EXPECT_EQ(grabber_->Run(), 0);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    EXPECT_EQ(Names(), kWavChain);
    ASSERT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->Stop(), 1);
}

TEST_F(CdCallOrder, RandomSequencesOfEveryOperationNeverCrash) {
    quil::QueueWindow window;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        for (int step = 0; step < 120; ++step) {
            int result = -1;
            long code, p1, p2;
            int value = 0, first = 0, end = 0;
            double seconds = 0;
            char description[40];
            switch (pick(20)) {
                case 0:
                    result = grabber_->CreateGraph();
                    break;
                case 1:
                    grabber_->ReleaseGraph();
                    result = 1;
                    break;
                case 2:
                    result = grabber_->BuildOutput(pick(2), pick(4) == 0 ? 1 : 0, pick(6) - 1);
                    break;
                case 3:
                    result = grabber_->ClearOutput();
                    break;
                case 4:
                    result = grabber_->SetOutputFile(
                        pick(4) ? (dir_ / ("out" + std::to_string(pick(3)) + ".wav")).c_str()
                                : "/nonexistent/folder/out.wav");
                    break;
                case 5:
                    result = grabber_->Run();
                    break;
                case 6:
                    result = grabber_->Pause();
                    break;
                case 7:
                    result = grabber_->Stop();
                    break;
                case 8:
                    result = grabber_->SetNotifyWindow(window.handle(), 2138);
                    break;
                case 9:
                    result = grabber_->GetEvent(&code, &p1, &p2);
                    while (window.Take(std::chrono::milliseconds(0))) {
                    }
                    break;
                case 10:
                    result = grabber_->SetWavFormat(pick(40) - 2);
                    break;
                case 11:
                    result =
                        grabber_->SetWmaProfile(pick(3) ? 7 : 9, pick(2) ? "no such profile" : "");
                    break;
                case 12:
                    result = grabber_->SetCurrentSector(pick(300));
                    break;
                case 13:
                    result = grabber_->GetTrackRange(&first, &end);
                    break;
                case 14:
                    result = grabber_->SetDrive(pick(4) ? letter_ : 'Q');
                    break;
                case 15:
                    result = grabber_->SetCurrentTrack(pick(4));
                    break;
                case 16:
                    result = grabber_->SetSectorsPerRead(pick(20));
                    break;
                case 17:
                    result = grabber_->GetFormatDescription(description);
                    break;
                case 18:
                    result = grabber_->SectorsToSeconds(pick(1000), &seconds);
                    break;
                case 19:
                    grabber_->GetProgress();
                    result = grabber_->GetUnreadableSectors(&value) | grabber_->LockDoor(pick(2));
                    break;
            }
            ASSERT_TRUE(result == 0 || result == 1) << "step " << step << ": " << result;
            int state = grabber_->GetState();
            ASSERT_TRUE(state >= 0 && state <= 3) << state;
        }
        grabber_->ReleaseGraph();
    }
}

}  // namespace
