#include "support/hub_double.h"

namespace vorlane::testing {

std::vector<HubRequest> HubDouble::requests() const {
    std::vector<HubRequest> list;
    for (const JsonValue& item : session_.requests().items)
        list.push_back({member(item, "server").text, member(item, "method").text, member(item, "path").text,
                        member(item, "range").text});
    return list;
}

std::vector<std::string> HubDouble::sequence() const {
    std::vector<std::string> lines;
    for (const HubRequest& asked : requests())
        lines.push_back(asked.method + (asked.range.empty() ? "" : " " + asked.range));
    return lines;
}

}  // namespace vorlane::testing
