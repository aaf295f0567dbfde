// libFuzzer target: ReadWav on any bytes, and WriteWav of whatever it reads,
// which must read back with the same shape.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/wav_file.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorlane::AudioBuffer audio;
    if (!vorlane::ReadWav(std::string(reinterpret_cast<const char*>(data), size), audio)) return 0;
    check(audio.channels >= 1 && audio.rate >= 1);
    check(audio.samples.size() % static_cast<size_t>(audio.channels) == 0);

    std::string written = vorlane::WriteWav(audio);
    check(written.size() == 44 + 2 * audio.samples.size());
    vorlane::AudioBuffer back;
    check(vorlane::ReadWav(written, back));
    check(back.rate == audio.rate && back.channels == audio.channels && back.samples.size() == audio.samples.size());
    for (float sample : back.samples) check(sample >= -1.0f && sample < 1.0f);
    return 0;
}
