// The media-file grabber's table called in random orders: every call answers 0 or 1, the state
// stays one of the four, and nothing crashes (the sanitizer build runs this too).

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "engine/media/file_audio_grabber.h"
#include "platform/window/window.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

TEST(FileGrabberCallOrder, RandomSequencesOfEveryOperationNeverCrash) {
    auto dir = MakeTempDir("file_order");
    ASSERT_TRUE(WriteSineWav(dir / "tone.wav", 44100, 2, 0.5));
    std::ofstream(dir / "junk.mp3") << "not audio";
    const std::string sources[] = {(dir / "tone.wav").string(), (dir / "junk.mp3").string(),
                                   (dir / "missing.wav").string()};
    QueueWindow window;
    for (unsigned seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        auto* grabber = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
        ASSERT_TRUE(grabber);
        for (int step = 0; step < 100; ++step) {
            int result = -1;
            long code, p1, p2;
            double seconds = 0;
            int a = 0, b = 0, c = 0, d = 0;
            std::string output = (dir / ("out" + std::to_string(pick(3)) + ".wav")).string();
            switch (pick(12)) {
                case 0:
                    result = grabber->Open(pick(4) == 0, 0, pick(6) - 1, sources[pick(3)].c_str(),
                                           output.c_str(), 0, pick(2));
                    break;
                case 1:
                    grabber->ReleaseGraph();
                    result = 1;
                    break;
                case 2:
                    result = grabber->Run();
                    break;
                case 3:
                    result = grabber->Pause();
                    break;
                case 4:
                    result = grabber->Stop();
                    break;
                case 5:
                    result = grabber->SetNotifyWindow(window.handle(), 2139);
                    break;
                case 6:
                    result = grabber->GetEvent(&code, &p1, &p2);
                    while (window.Take(std::chrono::milliseconds(0))) {
                    }
                    break;
                case 7:
                    result = grabber->SetPosition(pick(3) * 0.2);
                    break;
                case 8:
                    result = grabber->GetPosition(&seconds);
                    break;
                case 9:
                    result = grabber->GetDuration(&seconds);
                    break;
                case 10:
                    result = grabber->GetStreamPresence(&a, &b, &c, &d);
                    break;
                case 11:
                    result =
                        grabber->SetWmaProfile(pick(2) ? 7 : 9, pick(2) ? "no such profile" : "");
                    break;
            }
            ASSERT_TRUE(result == 0 || result == 1) << "step " << step << ": " << result;
            int state = grabber->GetState();
            ASSERT_TRUE(state >= 0 && state <= 3) << state;
        }
        grabber->ReleaseGraph();
        grabber->Destroy();
    }
}

}  // namespace
}  // namespace quil::test
