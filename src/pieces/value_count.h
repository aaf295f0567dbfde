// A bound on what a JSON document from a build server can cost before it is
// parsed. A parsed tree takes about a hundred times the bytes of a short
// value's text, so a signed but hostile list of a few dozen megabytes would
// take gigabytes; the values are counted first, without building anything.
#pragma once

#include <cstddef>
#include <string>

namespace vorlane {

// The most values a themes.json or a theme index may hold: more than any real
// one does, and a tree of a few hundred MB at worst.
constexpr size_t kMostJsonValues = 1u << 20;

// True when the text holds at most `most` JSON values. Counted as an upper
// bound: every value but the first follows a "[", "{", "," or ":" outside a
// string, so a document that passes has no more values than that.
bool atMostJsonValues(const std::string& text, size_t most = kMostJsonValues);

}  // namespace vorlane
