// The get-models command: the model files ComfyUI lacks, from Hugging Face.
#pragma once

#include "core/command_line.h"
#include "core/launcher_state.h"

namespace vorlane {

// Downloads what --make needs (everything when not given) into the ComfyUI of
// --comfy (else the ComfyServer setting), from --models-from (else the hub).
// Every line goes to the log after "Download models: "; each question is
// answered yes. 0 when ComfyUI has every file afterwards, else 1.
int getModelsCommand(LauncherState& state, const StartOptions& options);

}  // namespace vorlane
