// libFuzzer target: DecodeFlac on any bytes. Besides not crashing, a result
// must be a buffer of one or two channels or exactly one of the decoder's
// sentences with an empty buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/flac_decoder.h"

namespace {

bool isKnownSentence(const std::string& sentence) {
    static const char* const known[] = {
        "it isn't a FLAC file",
        "it's cut short",
        "its stream information is missing or damaged",
        "a frame of it is damaged",
        "its frames don't all have the same rate, channels and sample size",
        "it's more than twenty minutes long",
        "there's no sound in it",
    };
    for (const char* text : known)
        if (sentence == text) return true;
    for (int channels = 3; channels <= 8; ++channels)
        if (sentence == "it has " + std::to_string(channels) + " channels, not one or two") return true;
    return false;
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorlane::AudioBuffer audio;
    std::string sentence = vorlane::DecodeFlac(std::string(reinterpret_cast<const char*>(data), size), audio);
    if (sentence.empty()) {
        check(audio.channels == 1 || audio.channels == 2);
        check(audio.rate >= 1);
        check(!audio.samples.empty() && audio.samples.size() % static_cast<size_t>(audio.channels) == 0);
        check(audio.samples.size() <= static_cast<size_t>(audio.channels) * static_cast<size_t>(audio.rate) * 1200);
    } else {
        check(isKnownSentence(sentence));
        check(audio.samples.empty() && audio.channels == 0 && audio.rate == 0);
    }
    return 0;
}
