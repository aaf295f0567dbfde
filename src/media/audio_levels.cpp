#include "media/audio_levels.h"

#include <algorithm>
#include <cmath>

namespace vorlane {

double PeakOf(const AudioBuffer& audio) {
    double peak = 0;
    for (float sample : audio.samples) peak = std::max(peak, static_cast<double>(std::fabs(sample)));
    return peak;
}

void ScaleSamples(AudioBuffer& audio, double gain) {
    for (float& sample : audio.samples) sample = static_cast<float>(sample * gain);
}

double RootMeanSquareOf(const AudioBuffer& audio) {
    if (audio.samples.empty()) return 0;
    double squares = 0;
    for (float sample : audio.samples) squares += static_cast<double>(sample) * sample;
    return std::sqrt(squares / static_cast<double>(audio.samples.size()));
}

bool SetLoudness(AudioBuffer& audio, double targetDbfs) {
    const double peak = PeakOf(audio);
    if (audio.samples.empty() || peak < kSilentPeak) return false;
    const double rms = RootMeanSquareOf(audio);
    ScaleSamples(audio, std::min(kPeakCeiling / peak, std::pow(10.0, targetDbfs / 20) / rms));
    return true;
}

}  // namespace vorlane
