#pragma once

// The dialogs the engine asks the platform for: the format chooser of the audio compression
// manager, message boxes and property frames. The program installs its own (Qt dialogs); tests
// install ones that answer by themselves. Without a format chooser every choice is a cancel;
// without a message box service the text goes to the standard error; without a property frame
// service no page can be shown.

#include <span>

#include "platform/graph/interfaces.h"

class FormatChooser {
public:
    // Lets the user pick one of `formats`, starting from `current`; true and *chosen when
    // confirmed, false when cancelled.
    virtual bool Choose(HWND owner, std::span<const WAVEFORMATEX> formats,
                        const WAVEFORMATEX& current, WAVEFORMATEX* chosen) = 0;

protected:
    ~FormatChooser() = default;
};

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;

class MessageBoxService {
public:
    virtual int Show(HWND owner, const char* text, const char* caption, UINT type) = 0;

protected:
    ~MessageBoxService() = default;
};

class PropertyFrameService {
public:
    virtual HRESULT Show(HWND owner, int x, int y, const wchar_t* caption, IUnknown* object,
                         std::span<const CLSID> pages) = 0;

protected:
    ~PropertyFrameService() = default;
};

namespace quil {

// Each returns the service it replaces; null restores the default. The service must outlive
// its installation.
FormatChooser* SetFormatChooser(FormatChooser* chooser);
MessageBoxService* SetMessageBoxService(MessageBoxService* service);
PropertyFrameService* SetPropertyFrameService(PropertyFrameService* service);

bool ChooseFormat(HWND owner, std::span<const WAVEFORMATEX> formats, const WAVEFORMATEX& current,
                  WAVEFORMATEX* chosen);
int MessageBox(HWND owner, const char* text, const char* caption, UINT type);
// Without a service: E_NOTIMPL.
HRESULT OleCreatePropertyFrame(HWND owner, int x, int y, const wchar_t* caption, IUnknown* object,
                               std::span<const CLSID> pages);

}  // namespace quil
