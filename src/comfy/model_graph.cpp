#include "comfy/model_graph.h"

#include <vector>

#include "comfy/picture_graph.h"
#include "comfy/workflow_graph.h"

namespace vorlane {

namespace {

using G = WorkflowGraph;

std::string seedPlus(long long seed, int offset) { return G::whole(SeedPlus(seed, offset)); }

}  // namespace

std::string Build3DModelGraph(const std::wstring& prompt, long long seed, const std::wstring& filenamePrefix,
                              long long targetFaceCount) {
    WorkflowGraph graph;
    const std::string object = G::link(AddSourcePictureSection(graph, prompt, seed, filenamePrefix), 0);

    // The camera's field of view, and the picture as TRELLIS.2's conditioning.
    graph.addNode("55", "LoadMoGeModel", {{"model_name", G::string(L"moge_2_vitl_normal_fp16.safetensors")}});
    graph.addNode("56", "MoGeInference",
                  {{"moge_model", G::link("55", 0)},
                   {"image", object},
                   {"resolution_level", "9"},
                   {"fov_x_degrees", "0"},
                   {"batch_size", "4"},
                   {"force_projection", "true"},
                   {"apply_mask", "true"},
                   {"refine_steps", "3"}});
    graph.addNode(
        "242", "MoGeGeometryToFOV",
        {{"moge_geometry", G::link("56", 0)}, {"axis", G::string(L"horizontal")}, {"unit", G::string(L"degrees")}});
    graph.addNode("15", "CLIPVisionLoader", {{"clip_name", G::string(L"dino_v3_L_naf_fp32.safetensors")}});
    graph.addNode("298", "Pixal3DConditioning",
                  {{"clip_vision_model", G::link("15", 0)}, {"image", object}, {"camera_angle_x", G::link("242", 0)}});

    // The model and the two VAEs.
    graph.addNode(
        "319", "UNETLoader",
        {{"unet_name", G::string(L"pixal3d_int8_convrot.safetensors")}, {"weight_dtype", G::string(L"default")}});
    graph.addNode("117", "VAELoader", {{"vae_name", G::string(L"trellis_2_shape_vae_bf16.safetensors")}});
    graph.addNode("118", "VAELoader", {{"vae_name", G::string(L"trellis_2_texture_vae_bf16.safetensors")}});

    // The structure: sampled through a late cfg override, rescaled and shifted.
    graph.addNode("199", "CFGOverride",
                  {{"model", G::link("319", 0)}, {"cfg", "1"}, {"start_percent", "0.667"}, {"end_percent", "1"}});
    graph.addNode("125", "RescaleCFG", {{"model", G::link("199", 0)}, {"multiplier", "0.7"}});
    graph.addNode("108", "ModelSamplingSD3", {{"model", G::link("125", 0)}, {"shift", "5"}});
    graph.addNode("87", "EmptyTrellis2LatentStructure", {{"batch_size", "1"}});
    graph.addNode("3", "KSampler",
                  KSamplerInputs(G::link("108", 0), G::link("298", 0), G::link("298", 1), G::link("87", 0),
                                 seedPlus(seed, 56), "12", "7.5", L"euler", L"normal"));
    graph.addNode("119", "VaeDecodeStructureTrellis2",
                  {{"samples", G::link("3", 0)}, {"vae", G::link("117", 0)}, {"resolution", G::string(L"32")}});

    // The shape, then its upsampled shape: an override from later on, rescaled, no shift.
    graph.addNode("91", "Trellis2ShapeStage",
                  {{"positive", G::link("298", 0)}, {"negative", G::link("298", 1)}, {"voxel", G::link("119", 0)}});
    graph.addNode("279", "CFGOverride",
                  {{"model", G::link("319", 0)}, {"cfg", "1"}, {"start_percent", "0.769"}, {"end_percent", "1"}});
    graph.addNode("126", "RescaleCFG", {{"model", G::link("279", 0)}, {"multiplier", "0.5"}});
    graph.addNode("18", "KSampler",
                  KSamplerInputs(G::link("126", 0), G::link("91", 0), G::link("91", 1), G::link("91", 2),
                                 seedPlus(seed, 42), "20", "7.5", L"euler", L"normal"));
    graph.addNode("94", "Trellis2UpsampleStage",
                  {{"positive", G::link("91", 0)},
                   {"negative", G::link("91", 1)},
                   {"shape_latent", G::link("18", 0)},
                   {"vae", G::link("117", 0)},
                   {"target_resolution", "1536"}});
    graph.addNode("23", "KSampler",
                  KSamplerInputs(G::link("126", 0), G::link("94", 0), G::link("94", 1), G::link("94", 2),
                                 seedPlus(seed, 42), "12", "7.5", L"euler", L"simple"));
    graph.addNode("92", "VaeDecodeShapeTrellis", {{"samples", G::link("23", 0)}, {"vae", G::link("117", 0)}});

    // The texture, from the model itself.
    graph.addNode("98", "Trellis2TextureStage",
                  {{"positive", G::link("94", 0)}, {"negative", G::link("94", 1)}, {"shape_latent", G::link("23", 0)}});
    graph.addNode("12", "KSampler",
                  KSamplerInputs(G::link("319", 0), G::link("98", 0), G::link("98", 1), G::link("98", 2),
                                 seedPlus(seed, 43), "12", "1", L"euler", L"normal"));
    graph.addNode("93", "VaeDecodeTextureTrellis",
                  {{"samples", G::link("12", 0)}, {"vae", G::link("118", 0)}, {"shape_subdivides", G::link("92", 1)}});

    // The mesh: remeshed, decimated, smoothed, painted and saved.
    graph.addNode("241", "RemeshMesh",
                  {{"mesh", G::link("92", 0)},
                   {"resolution", "768"},
                   {"sign_mode", G::string(L"udf")},
                   {"sign_mode.qef", "false"},
                   {"sign_mode.drop_inverted_components", "false"},
                   {"sign_mode.drop_enclosed_components", "false"},
                   {"band", "1.0"},
                   {"project_back", "0.0"},
                   {"fix_poles", "false"},
                   {"smooth_iters", "20"},
                   {"drop_small_components", "0.01"},
                   {"precluster_max_verts", "20000000"}});
    graph.addNode("186", "DecimateMesh",
                  {{"mesh", G::link("241", 0)},
                   {"target_face_count", G::whole(targetFaceCount)},
                   {"placement_mode", G::string(L"midpoint")}});
    graph.addNode("238", "MeshSmoothNormals", {{"mesh", G::link("186", 0)}, {"crease_angle", "180"}});
    graph.addNode("252", "PaintMesh", {{"mesh", G::link("238", 0)}, {"voxel_colors", G::link("93", 0)}});
    graph.addNode("400", "SaveGLB", {{"mesh", G::link("252", 0)}, {"filename_prefix", G::string(filenamePrefix)}});
    graph.finish();
    return graph.text();
}

}  // namespace vorlane
