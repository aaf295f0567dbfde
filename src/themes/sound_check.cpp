#include "themes/sound_check.h"

#include <algorithm>
#include <vector>

#include "core/files.h"
#include "core/files_below.h"
#include "core/text.h"
#include "media/brightness.h"
#include "media/wav_file.h"

namespace vorlane {

namespace {

struct BrightSound {
    std::wstring name;
    Brightness measure;
};

bool isWavName(const std::wstring& name) {
    return endsWithIgnoringCase(name, L".wav");
}

}  // namespace

bool SoundCheck(const std::wstring& themeFolder, const std::function<void(const std::wstring&)>& report) {
    std::wstring folder = joinPath(themeFolder, L"Audio\\SFX");
    if (!folderExists(folder)) folder = joinPath(themeFolder, L"Import\\Audio\\SFX");

    size_t read = 0;
    std::vector<BrightSound> bright;
    for (const std::wstring& name : filesBelow(folder)) {
        if (!isWavName(name)) continue;
        AudioBuffer audio;
        if (!ReadWav(readWholeFile(joinPath(folder, name)), audio)) {
            report(L"  " + name + L" isn't a WAV it can read (16-, 24- or 32-bit PCM, or 32-bit float).");
            continue;
        }
        ++read;
        const Brightness measure = MeasureBrightness(audio, kBrightnessCutoffHz);
        if (IsTooBright(measure)) bright.push_back({name, measure});
    }
    std::stable_sort(bright.begin(), bright.end(), [](const BrightSound& a, const BrightSound& b) {
        return BrightnessScore(a.measure) > BrightnessScore(b.measure);
    });

    report(L"Sound check of " + folder + L": " + std::to_wstring(bright.size()) + L" of " + std::to_wstring(read) +
           L" sound(s) too bright (" + BrightnessRuleText() + L")" + (bright.empty() ? L"." : L", brightest first:"));
    for (const BrightSound& sound : bright) report(L"  " + sound.name + L": " + DescribeBrightness(sound.measure) + L".");
    return read > 0;
}

}  // namespace vorlane
