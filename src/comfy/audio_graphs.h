// The sound and music workflows: Stable Audio makes sound effects, ACE-Step
// makes music; both save their audio as FLAC from node "30".
#pragma once

#include <string>

namespace vorlane {

// A sound effect `seconds` long (the generate seconds of its sound's parameters).
std::string BuildSoundGraph(const std::wstring& prompt, double seconds, long long seed,
                            const std::wstring& filenamePrefix);

// An instrumental piece `seconds` long at `tempo` beats per minute in four
// time, in the musical key `key` ("D minor"); the prompt is its tags.
std::string BuildMusicGraph(const std::wstring& prompt, double seconds, int tempo, const std::wstring& key,
                            long long seed, const std::wstring& filenamePrefix);

}  // namespace vorlane
