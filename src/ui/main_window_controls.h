// The main window's control identifiers, shared with what drives the window
// from outside (assistive tools, the tests).
#pragma once

namespace vorlane {

enum MainWindowControl : int {
    kMainButtonId = 100,
    kOpenFolderId = 101,
    kUninstallId = 102,
    kChangeFolderId = 103,
    kBackId = 104,
    kThemeFilesId = 105,
    kWhatsNewId = 106,
    kCreateThemeId = 107,
    kCheckFilesId = 108,
    // "Pause" while an install downloads, "Resume" once it has stopped with part of the build fetched.
    kPauseId = 109,
    // Hidden static controls that carry the three status lines as text.
    kStatusLine1Id = 110,
    kStatusLine2Id = 111,
    kStatusTextId = 112,
};

}  // namespace vorlane
