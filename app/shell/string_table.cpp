#include "app/shell/string_table.h"

#include <unordered_map>

namespace quil::shell {

namespace {

const std::unordered_map<int, const char*>& Table() {
    static const std::unordered_map<int, const char*> table = {
        {101, "&About Quillet..."},
        {102, "Download failed. Please download the new verison manually."},
        {103, "Update is not finished. Are you sure to quit?"},
        {115, "ID3Tag Edit"},
        {117, "Format"},
        {121, "File Name"},
        {122, "Format"},
        {123, "Duration"},
        {124, "Size"},
        {125, "Status"},
        {126, "Track#"},
        {129, "URL"},
        {130, "Create output file failed."},
        {131, "Out of disk free space. Please release more space and try again!"},
        {132, "System catch en error! The action failed. Please check your setting and try again."},
        {133, "Playing"},
        {134, "Recording"},
        {135, "Record Pause"},
        {136, "Stop"},
        {137, "Play Pause"},
        {138,
         "Media files (all types)|*.*|Audio file (*.wav, *mp3, *wma)|*.wav;*mp3;*.wma|Movie File "
         "(MPEG)(*.mpeg, *mpg, *dat, *.m1v, *.mp2)|*.mpeg;*mpg;*.mp3;*.m1v;*.mp2|Video file "
         "(*.avi, "
         "*wmv)|*.avi;*wmv|Windows Media file (*.asf, *.wma, *.wmv)|*.asf;*.wma;*.wmv|All files "
         "(*.*)|*.*||"},
        {139, "Full Screen"},
        {140, "50%"},
        {141, "100%"},
        {143, "Snap shot"},
        {144, "Zoom"},
        {146, "Grab Pause"},
        {147, "CD/DVD ROM initializtion is failed. Please check your device, and try again."},
        {153, "Complete"},
        {173, "is invalid. Please check the audio capture device."},
        {174,
         "Recording from audio capture device failed. Please check the audio capture device is "
         "valid."},
        {175, "is lost. Recording will be stoped. Please check the audio capture device."},
        {176, "No file is selected."},
        {177, "The file you select is recording now, please try it after stopped."},
        {178, "The file is failed to play."},
        {179, "Please select a folder"},
        {180, "NULL"},
        {181, "Close Quillet"},
        {182, "Shut down"},
        {183, "Active"},
        {184, "Task name"},
        {188, "Invalid date or time format !"},
        {189, "Are you sure to delete a active task?"},
        {190, "Please input task name."},
        {191, "Add media files into list"},
        {192, "Delete file from list"},
        {193, "Move down"},
        {194, "Move up"},
        {195, "The media file you selected is already in th list."},
        {196, "Grabbing"},
        {198, "Play failed! Please check your disk or try again."},
        {199, "CD Grabber initialization failed. Please reinstall Quillet and try again."},
        {204, "Open device failed! Please select ohters and try again."},
        {205, "Connecting......"},
        {206, "The Media file have no audio stream."},
        {209, "Start Sector"},
        {210, "End Sector"},
        {57344, "Quillet"},
        {57345, "Option failed!"},
        {57346, "Please stop current option before select different audio source."},
        {57347,
         "Quillet detect that new version is valid. Do you want to update now?  If you choose Yes, "
         "The Quillet will be closed and update automatically. If you choose No, Please run live "
         "update later by yourself ."},
        {57348, "Update failed! Please reinstall Quillet and try again."},
        {57349, "Schedule task is valid."},
        {57350, "Delete all files in list"},
        {57351, "Open the output file folder"},
        {57352, "Set output format"},
        {57353, "Set output location and name rules"},
        {57354, "General setting"},
        {57355, "Edit recoder schedule"},
        {57356, "Open file or get ID3Tag info failed!"},
        {57357, "Quillet is already running."},
    };
    return table;
}

}  // namespace

QString LoadString(int id) {
    auto it = Table().find(id);
    return it == Table().end() ? QString() : QString::fromUtf8(it->second);
}

}  // namespace quil::shell
