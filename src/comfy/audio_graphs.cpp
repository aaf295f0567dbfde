#include "comfy/audio_graphs.h"

#include "comfy/workflow_graph.h"

namespace vorlane {

using G = WorkflowGraph;

std::string BuildSoundGraph(const std::wstring& prompt, double seconds, long long seed,
                            const std::wstring& filenamePrefix) {
    WorkflowGraph graph;
    graph.addNode("1", "CheckpointLoaderSimple", {{"ckpt_name", G::string(L"stable_audio_3_small_sfx.safetensors")}});
    graph.addNode("2", "CLIPLoader",
                  {{"clip_name", G::string(L"t5gemma_b_b_ul2.safetensors")},
                   {"type", G::string(L"stable_audio")},
                   {"device", G::string(L"default")}});
    graph.addNode("3", "CLIPTextEncode", {{"text", G::string(prompt)}, {"clip", G::link("2", 0)}});
    graph.addNode("4", "CLIPTextEncode", {{"text", G::string(L"")}, {"clip", G::link("2", 0)}});
    graph.addNode("5", "EmptyLatentAudio", {{"seconds", G::real(seconds)}, {"batch_size", "1"}});
    graph.addNode("6", "KSampler",
                  KSamplerInputs(G::link("1", 0), G::link("3", 0), G::link("4", 0), G::link("5", 0), G::whole(seed),
                                 "8", "1", L"lcm", L"simple"));
    graph.addNode("7", "VAEDecodeAudio", {{"samples", G::link("6", 0)}, {"vae", G::link("1", 2)}});
    graph.addNode("30", "SaveAudio", {{"audio", G::link("7", 0)}, {"filename_prefix", G::string(filenamePrefix)}});
    graph.finish();
    return graph.text();
}

std::string BuildMusicGraph(const std::wstring& prompt, double seconds, int tempo, const std::wstring& key,
                            long long seed, const std::wstring& filenamePrefix) {
    WorkflowGraph graph;
    graph.addNode(
        "1", "UNETLoader",
        {{"unet_name", G::string(L"acestep_v1.5_turbo.safetensors")}, {"weight_dtype", G::string(L"default")}});
    graph.addNode("2", "DualCLIPLoader",
                  {{"clip_name1", G::string(L"qwen_0.6b_ace15.safetensors")},
                   {"clip_name2", G::string(L"qwen_1.7b_ace15.safetensors")},
                   {"type", G::string(L"ace")},
                   {"device", G::string(L"default")}});
    graph.addNode("3", "VAELoader", {{"vae_name", G::string(L"ace_1.5_vae.safetensors")}});
    graph.addNode("4", "ModelSamplingAuraFlow", {{"model", G::link("1", 0)}, {"shift", "3"}});
    graph.addNode("5", "TextEncodeAceStepAudio1.5",
                  {{"clip", G::link("2", 0)},
                   {"tags", G::string(prompt)},
                   {"lyrics", G::string(L"[Instrumental]")},
                   {"seed", G::whole(seed)},
                   {"bpm", G::whole(tempo)},
                   {"duration", G::real(seconds)},
                   {"timesignature", G::string(L"4")},
                   {"language", G::string(L"en")},
                   {"keyscale", G::string(key)},
                   {"generate_audio_codes", "true"},
                   {"cfg_scale", "2"},
                   {"temperature", "0.85"},
                   {"top_p", "0.9"},
                   {"top_k", "0"},
                   {"min_p", "0"}});
    graph.addNode("6", "ConditioningZeroOut", {{"conditioning", G::link("5", 0)}});
    graph.addNode("7", "EmptyAceStep1.5LatentAudio", {{"seconds", G::real(seconds)}, {"batch_size", "1"}});
    graph.addNode("8", "KSampler",
                  KSamplerInputs(G::link("4", 0), G::link("5", 0), G::link("6", 0), G::link("7", 0), G::whole(seed),
                                 "8", "1", L"euler", L"simple"));
    graph.addNode("9", "VAEDecodeAudio", {{"samples", G::link("8", 0)}, {"vae", G::link("3", 0)}});
    graph.addNode("30", "SaveAudio", {{"audio", G::link("9", 0)}, {"filename_prefix", G::string(filenamePrefix)}});
    graph.finish();
    return graph.text();
}

}  // namespace vorlane
