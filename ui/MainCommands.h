#pragma once

#include "core/MarkCommands.h"
#include "ui/MainServices.h"
#include "ui/MainView.h"

namespace quavera {

inline constexpr char kSourceFilter[] = "MP3音频文件|*.mp3";
inline constexpr char kFolderPrompt[] = "请选择一个目录来存放分割文件：";
inline constexpr char kSizeCaptionTitle[] = "源分割文件大小";

// "源分割文件大小（1.5 KB）" for a source of 1536 bytes.
[[nodiscard]] std::string SizeCaption(std::int32_t sourceBytes);

// The main window's commands other than Start and End: the load handler and the buttons that
// choose files, open folders and pages, and show the other windows. The window forwards its
// events here; none of these runs while a cut does (the window sees to that).
class MainCommands {
public:
    MainCommands(const MainServices& services, MarkCommands& marks, MediaPlayer& player,
                 MainView& view);

    void Load();                  // before the window first shows
    void ChooseSource();          // cmdBrowseS
    void ChooseDestination();     // cmdBrowseD
    void OpenDestinationFolder(); // cmdO
    void Audition();              // Command2
    void About();                 // Command3
    void OtherFormats();          // Command4

    // What a confirmed choice of `path` does; also the file given on the command line or
    // dropped on the window.
    void LoadSource(const std::string& path);

private:
    MainServices services_;
    MarkCommands& marks_;
    MediaPlayer& player_;
    MainView& view_;
};

} // namespace quavera
