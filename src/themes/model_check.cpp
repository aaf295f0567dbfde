#include "themes/model_check.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/files_below.h"
#include "core/text.h"
#include "media/glb_model.h"

namespace vorlane {

namespace {

bool isGlbName(const std::wstring& name) {
    return name.size() >= 5 && endsWithIgnoringCase(name, L".glb");
}

}  // namespace

bool ModelCheck(const std::wstring& themeFolder, const std::function<void(const std::wstring&)>& log) {
    std::wstring modelsFolder = joinPath(themeFolder, L"Models");
    if (!folderExists(modelsFolder)) modelsFolder = joinPath(themeFolder, L"Import\\Models");

    size_t measured = 0;
    std::vector<std::pair<double, std::wstring>> torn;
    for (const std::wstring& name : filesBelow(modelsFolder)) {
        if (!isGlbName(name)) continue;
        const double score = ShardScore(readWholeFile(joinPath(modelsFolder, name)));
        if (score < 0) {
            log(L"  " + name + L" has no triangles it can measure (is it a GLB, or a Git LFS pointer to one?).");
            continue;
        }
        ++measured;
        if (IsInShards(score)) torn.emplace_back(score, name);
    }
    std::stable_sort(torn.begin(), torn.end(), [](const auto& a, const auto& b) { return a.first > b.first; });

    log(L"Model check of " + modelsFolder + L": " + std::to_wstring(torn.size()) + L" of " +
        std::to_wstring(measured) + L" model(s) in shards (over " +
        std::to_wstring(int(kShardThreshold * 100 + 0.5)) + L"% of the surface in the biggest 2% of triangles)" +
        (torn.empty() ? L"." : L", most torn first:"));
    for (const auto& [score, name] : torn) log(L"  " + name + L": " + ShardScoreText(score) + L".");
    return measured > 0;
}

}  // namespace vorlane
