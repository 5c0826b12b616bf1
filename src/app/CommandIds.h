#pragma once

// Command identifiers of the menus, accelerators and tool bar. Qt actions do
// the routing; the numbers name the commands (and the tool bar's order) the
// same way everywhere.
namespace cmd {
inline constexpr int kNew = 57600;
inline constexpr int kOpen = 57601;
inline constexpr int kSaveAs = 32800;
inline constexpr int kRecentFile = 57616;
inline constexpr int kExit = 57665;
inline constexpr int kAdd = 32774;
inline constexpr int kDelete = 32775;
inline constexpr int kExtractTo = 32776;
inline constexpr int kExtractHere = 32820;
// The program's own: decode the selected entries and check them.
inline constexpr int kTest = 32840;
inline constexpr int kSelectAll = 32777;
inline constexpr int kDeselectAll = 32778;
inline constexpr int kInvertSelection = 32785;
inline constexpr int kFind = 57636;
inline constexpr int kToolbar = 59392;
inline constexpr int kStatusBar = 59393;
inline constexpr int kLargeIcons = 59409;
inline constexpr int kSmallIcons = 59408;
inline constexpr int kList = 59410;
inline constexpr int kDetails = 59411;
inline constexpr int kRefresh = 32815;
// The program's own: the pane beside the list with the selected item's details.
inline constexpr int kDetailsPane = 32850;
inline constexpr int kView = 32829;
inline constexpr int kOnlineHelp = 32788;
inline constexpr int kOnlineInfo = 32831;
inline constexpr int kContacts = 32787;
inline constexpr int kAbout = 57664;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
}  // namespace cmd
