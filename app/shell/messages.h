#pragma once

// Window messages and timer ids shared by the main window, its pages and the skinned controls.
// They travel as posted Qt events through platform/window (QtWindowTarget).

#include "platform/com/types.h"

namespace quil::shell {

// Page to main window.
constexpr UINT MSG_PROGRESS = 5148;  // wParam range maximum, lParam position
constexpr UINT MSG_STOPPED = 5150;
constexpr UINT MSG_STOPPED_PLAYER = 5151;
constexpr UINT MSG_STARTED = 5153;
constexpr UINT MSG_LOCK_CONTROLS = 5154;
// Main window to page: wParam the progress slider's position in the page's own unit.
constexpr UINT MSG_SEEK = 5149;
// Update check to main window.
constexpr UINT MSG_RUN_UPDATER = 6158;
// The update check's worker found a newer release; the main window asks the user.
constexpr UINT MSG_UPDATE_FOUND = 6159;
constexpr UINT MSG_TRAY = 2142;
// Skinned slider to its parent: wParam control id, lParam position.
constexpr UINT MSG_SLIDER_MOVED = 10449;
constexpr UINT MSG_SLIDER_RELEASED = 10450;

// Grabber event messages a page registers with SetNotifyWindow.
constexpr UINT MSG_CD_PLAY_EVENT = 2134;
constexpr UINT MSG_LIVE_EVENT = 2137;
constexpr UINT MSG_CD_GRAB_EVENT = 2138;
constexpr UINT MSG_GRAB_EVENT = 2139;
constexpr UINT MSG_PLAY_EVENT = 2141;

// Timers of the main window.
constexpr int kCpuMeterTimer = 3130;
constexpr int kSchedulerTimer = 3131;
constexpr int kUpdateTimer = 3132;
constexpr int kCpuMeterPeriodMs = 1000;
constexpr int kSchedulerPeriodMs = 1000;
constexpr int kUpdatePeriodMs = 600000;

// Page indices of the source selector and the menus.
enum PageIndex {
    kLivePage = 0,
    kMediaPage = 1,
    kCdPage = 2,
    kNetworkPage = 3,
    kPlayerPage = 5,
    kTagPage = 8,
    kOptionsIndex = 9,  // not a page: opens the options dialog
    kHomePage = 10,
};

// Control ids the sliders of the main window pass as wParam.
constexpr WPARAM kProgressSliderId = 1001;
constexpr WPARAM kVolumeSliderId = 1002;

}  // namespace quil::shell
