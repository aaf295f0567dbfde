// A ComfyUI prompt graph in API form, written node by node as the JSON text
// that goes to ComfyUI unchanged: {"id":{"class_type":"...","inputs":{...}},...}.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vorlane {

class WorkflowGraph {
public:
    // An input: its name and its value, already JSON text (see the writers below).
    using Input = std::pair<std::string, std::string>;

    // Appends a node. Ids, class names and input names are fixed ASCII texts,
    // written unescaped.
    void addNode(const std::string& id, const std::string& className, const std::vector<Input>& inputs);
    // Closes the object; the text is then a whole graph.
    void finish();
    const std::string& text() const { return text_; }

    // Input values.
    static std::string string(const std::wstring& text);             // quoteJson
    static std::string whole(long long number);                      // decimal
    static std::string real(double number);                          // fixed3: 0.600
    static std::string link(const std::string& nodeId, int output);  // ["9",0]

private:
    std::string text_;
};

}  // namespace vorlane
