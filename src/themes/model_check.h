// The model check: scores every GLB model in a theme folder and lists those
// that came out in shards (the model-check command).
#pragma once

#include <functional>
#include <string>

namespace vorlane {

// Scores every ".glb" file below the theme's "Models" folder (or, when there is
// none, its "Import\Models" folder) and reports, one line at a time: each file
// with nothing to measure, a summary, then the models in shards, most torn
// first. True when at least one model was measured.
bool ModelCheck(const std::wstring& themeFolder, const std::function<void(const std::wstring&)>& log);

}  // namespace vorlane
