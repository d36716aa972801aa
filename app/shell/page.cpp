#include "app/shell/page.h"

namespace quil::shell {

Page::Page(PageHost& host, QWidget* parent)
    : QWidget(parent),
      host_(host),
      target_(new QtWindowTarget(this,
                                 [this](const Message& message) { return OnMessage(message); })) {}

Page::~Page() {
    // No message may reach a page whose subclass part is already gone.
    delete target_;
    target_ = nullptr;
}

void Page::PostToMain(UINT message, WPARAM wParam, LPARAM lParam) const {
    PostMessage(host_.MainWindowHandle(), message, wParam, lParam);
}

}  // namespace quil::shell
