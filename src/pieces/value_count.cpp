#include "pieces/value_count.h"

namespace vorlane {

bool atMostJsonValues(const std::string& text, size_t most) {
    size_t values = 1;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{' || c == ',' || c == ':') {
            if (++values > most) return false;
        }
    }
    return true;
}

}  // namespace vorlane
