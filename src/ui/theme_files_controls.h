// The theme files window's control identifiers, shared with what drives the
// window from outside (assistive tools, the tests).
#pragma once

namespace vorlane {

enum ThemeFilesControl : int {
    kThemeFolderCaptionId = 1,
    kThemeStyleCaptionId = 2,
    kThemeStyleHintId = 3,
    kChooseThemeFolderId = 200,
    kOpenThemeFolderId = 201,
    kMakeSlotFoldersId = 202,
    kThemeStyleId = 203,
    kCopyPromptId = 204,
    kExportChecklistId = 205,
    kSlotListId = 206,
    // The theme folder, the summary (or the last action) and the selected
    // slot's details.
    kThemeFolderTextId = 207,
    kThemeSummaryId = 208,
    kSlotDetailsId = 209,
    // The selected slot's file, drawn (its window text is what it says), and
    // the button that plays a sound shown there.
    kPreviewPaneId = 210,
    kPlaySoundId = 211,
};

}  // namespace vorlane
