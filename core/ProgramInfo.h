#pragma once

// The program's fixed names, addresses and notices, in one place.
namespace quavera::info {

inline constexpr char kProgramTitle[] = "Quavera";
// The titles of the program's error and hint message boxes.
inline constexpr char kErrorTitle[] = "错误";
inline constexpr char kHintTitle[] = "提示";
// Set by the build from the project version.
inline constexpr char kVersion[] = QUAVERA_VERSION;
inline constexpr char kMainCaption[] = "QuaveraV" QUAVERA_VERSION;
// The desktop entry (quavera.desktop) that docks and compositors match the windows to.
inline constexpr char kDesktopEntryName[] = "quavera";
// Written as the browser start page after the first-run offer is accepted.
inline constexpr char kHomePageAddress[] = "https://quavera.example.org/";
inline constexpr char kContactEmail[] = "quavera@example.org";
// Short enough for one line of the About window at the desktops' usual fonts.
inline constexpr char kRightsNotice[] = "© 2026 Quavera 开发者，依 GPLv3+ 发布。";
// Pages shipped with the program, looked up in its data folder.
inline constexpr char kHelpPageFile[] = "help.html";
inline constexpr char kFormatsPageFile[] = "formats.html";

} // namespace quavera::info
