#include "comfy/workflow_graph.h"

#include "core/json.h"

namespace vorlane {

void WorkflowGraph::addNode(const std::string& id, const std::string& className, const std::vector<Input>& inputs) {
    text_ += text_.empty() ? "{" : ",";
    text_ += "\"" + id + "\":{\"class_type\":\"" + className + "\",\"inputs\":{";
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (i > 0) text_ += ",";
        text_ += "\"" + inputs[i].first + "\":" + inputs[i].second;
    }
    text_ += "}}";
}

void WorkflowGraph::finish() { text_ += text_.empty() ? "{}" : "}"; }

std::string WorkflowGraph::string(const std::wstring& text) { return quoteJson(text); }

std::string WorkflowGraph::whole(long long number) { return std::to_string(number); }

std::string WorkflowGraph::real(double number) { return fixed3(number); }

std::string WorkflowGraph::link(const std::string& nodeId, int output) { return linkJson(nodeId, output); }

std::vector<WorkflowGraph::Input> KSamplerInputs(const std::string& model, const std::string& positive,
                                                 const std::string& negative, const std::string& latent,
                                                 const std::string& seed, const std::string& steps,
                                                 const std::string& cfg, const std::wstring& samplerName,
                                                 const std::wstring& scheduler) {
    return {{"model", model},
            {"positive", positive},
            {"negative", negative},
            {"latent_image", latent},
            {"seed", seed},
            {"steps", steps},
            {"cfg", cfg},
            {"sampler_name", WorkflowGraph::string(samplerName)},
            {"scheduler", WorkflowGraph::string(scheduler)},
            {"denoise", "1"}};
}

long long SeedPlus(long long seed, long long offset) {
    return (long long)((unsigned long long)seed + (unsigned long long)offset);
}

}  // namespace vorlane
