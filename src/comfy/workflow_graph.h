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

// seed + offset; near the ends of the 64-bit range it wraps around rather
// than overflowing, so every seed has a next one.
long long SeedPlus(long long seed, long long offset);

// The inputs of a "KSampler" node in its order: the model, the positive and
// negative conditioning and the latent (links), the seed, steps and cfg (JSON
// numbers), the sampler and scheduler names; denoise is always 1.
std::vector<WorkflowGraph::Input> KSamplerInputs(const std::string& model, const std::string& positive,
                                                 const std::string& negative, const std::string& latent,
                                                 const std::string& seed, const std::string& steps,
                                                 const std::string& cfg, const std::wstring& samplerName,
                                                 const std::wstring& scheduler);

}  // namespace vorlane
