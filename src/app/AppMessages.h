#pragma once

// Every text of the application shell (frame, menus, tool bar, tree, help
// and start-up), in one place.
namespace appmsg {
inline constexpr const char* kAppName = "Velmora";

// Start-up. The name of the installed desktop entry, without ".desktop".
inline constexpr const char* kDesktopFileName = "velmora";
inline constexpr const char* kFileDoesntExist = "File doesn't exist!";
inline constexpr const char* kNoDisplay =
    "No display is available for the window; use -c or -d to work from the command line.";
inline constexpr const char* kNoWindowBuilt =
    "This build of Velmora has no window; use -c or -d to work from the command line.";

// Frame.
inline constexpr const char* kNotImplemented = "Not implemented.";
inline constexpr const char* kReady = "Ready";

// Menus. Every item has a letter of its own within its menu (Alt+E, T
// must run Test, not only move to it), so no two items of a menu share one.
inline constexpr const char* kMenuFile = "&File";
inline constexpr const char* kMenuEdit = "&Edit";
inline constexpr const char* kMenuView = "&View";
inline constexpr const char* kMenuHelp = "&Help";
inline constexpr const char* kNew = "&New\tCtrl+N";
inline constexpr const char* kOpen = "&Open...\tCtrl+O";
inline constexpr const char* kSaveAs = "Save &As...\tCtrl+S";
inline constexpr const char* kRecentFile = "Recent &File";
inline constexpr const char* kExit = "E&xit";
inline constexpr const char* kAddTo = "&Add to ...";
inline constexpr const char* kDeleteFile = "&Delete file\tDelete";
inline constexpr const char* kExtractTo = "&Extract to ...";
inline constexpr const char* kExtractHere = "Extract &here";
inline constexpr const char* kTest = "&Test";
inline constexpr const char* kSelectAll = "&Select all\tCtrl+A";
inline constexpr const char* kDeselectAll = "Deselect a&ll\tCtrl+D";
inline constexpr const char* kInverseSelection = "&Inverse selection\tCtrl+I";
inline constexpr const char* kFind = "&Find\tCtrl+F";
inline constexpr const char* kToolbar = "&Toolbar";
inline constexpr const char* kStatusBar = "&Status Bar";
inline constexpr const char* kDetailsPane = "Details &Pane";
inline constexpr const char* kRefresh = "&Refresh\tF5";
inline constexpr const char* kOnlineHelp = "Online &Help";
inline constexpr const char* kOnlineInfo = "Online &Info";
inline constexpr const char* kContacts = "&Contacts";
inline constexpr const char* kAboutLas = "&About LAS";

inline constexpr const char* kNextPane = "Next Pane";
inline constexpr const char* kPreviousPane = "Previous Pane";

// Status-bar prompts.
inline constexpr const char* kPromptAdd = "Add to archive";
inline constexpr const char* kPromptDelete = "Delete selected file(s)";
inline constexpr const char* kPromptExtract = "Extract from archive";
inline constexpr const char* kPromptSelectAll = "Select all";
inline constexpr const char* kPromptDeselectAll = "Deselect all";
inline constexpr const char* kPromptInverse = "Inverse selection";
inline constexpr const char* kPromptSaveAs = "Save VMORA file";
inline constexpr const char* kPromptExtractHere = "Extract all files in current folder";
inline constexpr const char* kPromptTest = "Test the selected entries of the archive";
inline constexpr const char* kPromptView = "Change view";
inline constexpr const char* kPromptDetailsPane = "Show or hide what the selected file holds, beside the list";
inline constexpr const char* kPromptNew = "Create a new VMORA file";
inline constexpr const char* kPromptOpen = "Open an VMORA file";

// Tool bar labels.
inline constexpr const char* kTbNew = "New";
inline constexpr const char* kTbOpen = "Open";
inline constexpr const char* kTbAdd = "Add";
inline constexpr const char* kTbExtract = "Extract";
inline constexpr const char* kTbDelete = "Delete";
inline constexpr const char* kTbFind = "Find";
inline constexpr const char* kTbView = "View";
inline constexpr const char* kTbAbout = "About";

// Help, about and contacts.
inline constexpr const char* kHelpCaption = "Velmora Help";
inline constexpr const char* kAboutCaption = "About Velmora for LAS 1.2";
inline constexpr const char* kContactsCaption = "Contacts";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kClose = "Close";
}  // namespace appmsg
