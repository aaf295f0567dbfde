// The create-theme window's control identifiers, shared with what drives the
// window from outside (assistive tools, the tests).
#pragma once

namespace vorlane {

enum CreateThemeControl : int {
    kThemeNameId = 300,
    kFolderHintId = 301,
    kThemeStyleId = 302,
    kGroundStyleId = 303,
    kBaseThemeId = 304,
    // The five "Make" boxes, in the order of the kinds they stand for.
    kMakeIconsId = 305,
    kMakeImagesId = 306,
    kMakeModelsId = 307,
    kMakeSoundsId = 308,
    kMakeMusicId = 309,
    kMakeAgainId = 310,
    kSeedId = 311,
    kLightingId = 312,
    kSubjectListId = 313,
    kSubjectLabelId = 314,
    kWhatItIsId = 315,
    kPlainOneId = 316,
    kCalledId = 317,
    kCalledNoteId = 318,
    kComfyAddressId = 319,
    kCheckComfyId = 320,
    kDownloadModelsId = 321,
    kGetComfyId = 322,
    kWhereItGoesId = 323,
    kCreateId = 324,
    kStopId = 325,
    kOpenThemeFolderId = 326,
    kThemeProgressId = 327,
    kThemeLogId = 328,
    // Small pictures of what the run made, newest first; its window text names their files.
    kPictureStripId = 329,
    // "Pause" while a model download runs, "Resume" once Pause has stopped it
    // with what it fetched kept; out of sight otherwise.
    kPauseModelsId = 330,
};

}  // namespace vorlane
