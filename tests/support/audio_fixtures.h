// The FLAC and WAV files that tests/audio/make-audio-fixtures made with the
// reference encoders for the run (fixture flac_files), and what the reference
// decoders read from them.
#pragma once

#include <string>
#include <vector>

namespace vorlane::testing {

struct AudioFixture {
    std::string kind;  // "flac" or "wav"
    std::string name;  // the file is <name>.flac or <name>.wav
    int channels = 0;
    int rate = 0;
    int bits = 0;          // of the reference samples (12 and 20 bits sit left-aligned in 16 and 24)
    bool isFloat = false;  // the reference holds 32-bit floats
};

// build/audio-files.
std::wstring audioFixtureFolder();

// The files of one kind that the manifest lists.
std::vector<AudioFixture> audioFixtures(const std::string& kind);

// The bytes of a file in the folder, e.g. audioFixtureBytes("three_channels.flac").
std::string audioFixtureBytes(const std::string& fileName);

// The reference samples, scaled to -1..1 as the launcher's readers scale them.
std::vector<float> referenceSamples(const AudioFixture& fixture);

}  // namespace vorlane::testing
