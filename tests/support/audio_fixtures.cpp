#include "support/audio_fixtures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

std::wstring audioFixtureFolder() { return joinPath(parentFolder(testProgramFolder()), L"audio-files"); }

std::vector<AudioFixture> audioFixtures(const std::string& kind) {
    std::vector<AudioFixture> fixtures;
    std::istringstream lines(audioFixtureBytes("manifest"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        AudioFixture fixture;
        std::string type;
        fields >> fixture.kind >> fixture.name >> fixture.channels >> fixture.rate >> fixture.bits >> type;
        fixture.isFloat = type == "float";
        if (fixture.kind == kind) fixtures.push_back(fixture);
    }
    return fixtures;
}

std::string audioFixtureBytes(const std::string& fileName) {
    return readTestFile(joinPath(audioFixtureFolder(), toUtf16(fileName)));
}

std::vector<float> referenceSamples(const AudioFixture& fixture) {
    std::string raw = audioFixtureBytes(fixture.name + ".raw");
    size_t width = static_cast<size_t>(fixture.bits) / 8;
    std::vector<float> samples(raw.size() / width);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    double scale = std::ldexp(1.0, 1 - fixture.bits);
    for (size_t i = 0; i < samples.size(); ++i, bytes += width) {
        uint32_t value = 0;
        for (size_t b = 0; b < width; ++b) value |= uint32_t{bytes[b]} << (8 * b);
        if (fixture.isFloat) {
            std::memcpy(&samples[i], &value, 4);
        } else {
            int shift = 32 - fixture.bits;
            int32_t sample = static_cast<int32_t>(value << shift) >> shift;  // sign-extended
            samples[i] = static_cast<float>(sample * scale);
        }
    }
    return samples;
}

}  // namespace vorlane::testing
