#pragma once

// A page that answers every transport operation as told and counts the calls, so the main
// window's routing and button rules can be checked on their own.

#include <map>
#include <string>
#include <vector>

#include "app/shell/page.h"

namespace quil::shell::testing {

class FakePage final : public Page {
    Q_OBJECT

public:
    FakePage(int index, PageHost& host, QWidget* parent) : Page(host, parent), index(index) {}

    int StartGrab() override { return Answer("StartGrab"); }
    int PauseGrab() override { return Answer("PauseGrab"); }
    int StopGrab() override { return Answer("StopGrab"); }
    int Play() override { return Answer("Play"); }
    int PausePlayback() override { return Answer("PausePlayback"); }
    int StopPlayback() override { return Answer("StopPlayback"); }
    int Previous() override { return Answer("Previous"); }
    int Next() override { return Answer("Next"); }
    void ShowVideo(bool show) override { calls.push_back(show ? "ShowVideo" : "HideVideo"); }
    void Refresh() override { calls.push_back("Refresh"); }

    int Count(const std::string& call) const {
        int count = 0;
        for (const auto& c : calls) count += c == call;
        return count;
    }
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostToMain(message, wParam, lParam);
    }

    int index;
    // Operations that fail; every other one succeeds.
    std::map<std::string, bool> failing;
    std::vector<std::string> calls;
    std::vector<Message> received;
    // Outlives the page: what it was asked, for tests of the window's shutdown.
    std::vector<std::string>* journal = nullptr;

protected:
    LRESULT OnMessage(const Message& message) override {
        received.push_back(message);
        return 0;
    }

private:
    int Answer(const char* call) {
        calls.push_back(call);
        if (journal) journal->push_back(call);
        return failing[call] ? 0 : 1;
    }
};

}  // namespace quil::shell::testing
