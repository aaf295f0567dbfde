// Asking a ComfyUI server whether it answers and has every model file a theme
// run needs, where its models folders lie, and why it refused a workflow.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vorlane {

// What a theme run makes, as bits.
enum MakeKinds : unsigned {
    Icons = 1,   // cut-out icon pictures
    Images = 2,  // ground, route and background pictures
    Models = 4,  // 3D models
    Sounds = 8,  // sound effects
    Music = 16,
};

// One model file a kind of making needs: where it goes in ComfyUI's models
// folder, the loader node that names it, and where Hugging Face keeps it.
struct ModelFile {
    const char* folder;      // folder under ComfyUI's models folder
    const char* file;
    const char* nodeClass;   // the loader node
    const char* input;       // that node's input naming the file
    unsigned kinds;          // MakeKinds that need it
    const char* repository;  // on Hugging Face
    const char* pathInRepository;
};

inline constexpr int kModelFileCount = 15;
extern const ModelFile ModelFileTable[kModelFileCount];

// The hub whose repository pages the missing-files report names, unless the
// check is given the base address the files come from in its place.
inline constexpr wchar_t kHuggingFaceHub[] = L"https://huggingface.co";

// The ComfyUI addresses in text: one, or several separated by commas, each
// normalised as a base address; empty ones and a repeat of an earlier one are
// dropped, so the order is the order they were given in.
std::vector<std::wstring> ComfyAddresses(const std::wstring& text);
// The same addresses as one text, ", " between them.
std::wstring NormaliseComfyAddresses(const std::wstring& text);

using ReportSink = std::function<void(const std::wstring& line)>;

// Asks address whether ComfyUI answers and whether it has each model file that
// `kinds` needs, reporting in lines to `report`. `missing` (cleared first) gets
// "folder\file" per missing file, `missingRows` the rows they stand for, and
// `version` ComfyUI's version text. The report names each missing file's page
// at hubBase. True when ComfyUI answered.
bool CheckComfy(const std::wstring& address, unsigned kinds, const ReportSink& report,
                std::vector<std::wstring>& missing, std::wstring* version = nullptr,
                std::vector<const ModelFile*>* missingRows = nullptr, const std::wstring& hubBase = kHuggingFaceHub);

// The outcomes of ListModelChoices.
enum ModelChoices : int { ChoicesUnknown = 0, ChoicesListed = 1, NodeMissing = 2 };

// The file names ComfyUI offers for a row (UTF-8, cleared first): from the
// folder's listing, or failing that from what the loader node accepts.
int ListModelChoices(const std::wstring& address, const ModelFile& row, std::vector<std::string>& names);

// ComfyUI folder name to the folder it keeps that kind of file in; empty when
// ComfyUI didn't say.
std::map<std::string, std::wstring> FindModelFolders(const std::wstring& address);

// A sentence for a refused "/prompt" request, from its status and answer.
std::wstring ExplainRefusal(unsigned status, const std::string& body);

}  // namespace vorlane
