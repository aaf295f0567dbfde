// Standard Base64 (A-Z, a-z, 0-9, "+", "/", "=" padding): the form of the
// signature files beside the signed lists.
#pragma once

#include <string>

namespace vorlane {

// Decodes leniently where it is harmless and strictly where it is not: white
// space (space, tab, LF, VT, FF, CR) anywhere is skipped, missing padding is
// fine and leftover bits at the end are dropped; the first "=" starts the
// padding, after which only "=" and white space may follow. Any other byte
// makes the whole text fail, which gives an empty result.
std::string decodeBase64(const std::string& text);

// Encodes with "=" padding and no line breaks.
std::string encodeBase64(const std::string& bytes);

}  // namespace vorlane
