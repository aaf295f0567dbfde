// Updates made ready before the player asks: the newest build fetched and
// assembled in its staging folder in the background, every file checked, and
// left there. The update the player asks for then finds it and only puts it in
// place. Nothing installed changes meanwhile: not the build, the saves or
// launcher.ini.
#pragma once

#include <functional>

#include "core/build_record.h"
#include "core/job.h"
#include "core/launcher_state.h"

namespace vorlane {

// "Preload=off" switches the background fetch off: updates are fetched when the player asks.
inline constexpr wchar_t kPreloadSetting[] = L"Preload";
// The most MB a second the background fetch takes while the game runs ("PreloadRate=2"); 0 takes the cap off.
inline constexpr wchar_t kPreloadRateSetting[] = L"PreloadRate";
inline constexpr double kDefaultPreloadRate = 2;

// Whether updates are made ready in the background.
bool preloadOn(const LauncherState& state);

// The build to make ready: the newest listed one, when a build is installed and
// this one is newer, not held back, published in pieces, and pieces aren't
// switched off. A record without a commit when there is none.
BuildRecord buildToPreload(const LauncherState& state);

// Whether there is background work: a build to make ready that isn't ready
// yet, or a staging folder of a build no longer to be made ready.
bool preloadHasWork(const LauncherState& state);

enum class PreloadOutcome {
    Ready,    // the build is ready in its staging folder (the log and the status say so)
    Nothing,  // nothing newer to make ready
    Stopped,  // asked to stop; what was written is kept and the next try carries on
    Failed,   // it didn't work out (said in the log); the update fetches what it needs when asked
};

// Makes the build of buildToPreload ready, while the caller holds the root
// lock. Staging folders of other builds go once their pieces are of no more use.
// While the game runs, the fetch takes at most PreloadRate.
PreloadOutcome preloadBuild(LauncherState& state, const JobControl& job);

// The words of an outcome for the status line.
std::wstring preloadSentence(const LauncherState& state, PreloadOutcome outcome);

}  // namespace vorlane
