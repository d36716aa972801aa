#include "platform/audio/dialog_services.h"

#include <atomic>
#include <cstdio>

namespace quil {

namespace {

std::atomic<FormatChooser*> chooser{nullptr};
std::atomic<MessageBoxService*> messageBoxes{nullptr};
std::atomic<PropertyFrameService*> propertyFrames{nullptr};

}  // namespace

FormatChooser* SetFormatChooser(FormatChooser* next) {
    return chooser.exchange(next);
}

MessageBoxService* SetMessageBoxService(MessageBoxService* next) {
    return messageBoxes.exchange(next);
}

PropertyFrameService* SetPropertyFrameService(PropertyFrameService* next) {
    return propertyFrames.exchange(next);
}

bool ChooseFormat(HWND owner, std::span<const WAVEFORMATEX> formats, const WAVEFORMATEX& current,
                  WAVEFORMATEX* chosen) {
    FormatChooser* service = chooser.load();
    return service && chosen && service->Choose(owner, formats, current, chosen);
}

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (MessageBoxService* service = messageBoxes.load())
        return service->Show(owner, text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

HRESULT OleCreatePropertyFrame(HWND owner, int x, int y, const wchar_t* caption, IUnknown* object,
                               std::span<const CLSID> pages) {
    PropertyFrameService* service = propertyFrames.load();
    return service ? service->Show(owner, x, y, caption, object, pages) : E_NOTIMPL;
}

}  // namespace quil
