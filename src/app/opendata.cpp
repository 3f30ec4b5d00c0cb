#include "app/opendata.h"

namespace kelvra::app {

std::optional<std::string> FileNameOfUrl(AppCore&, const SelectedUrl&) {
    return std::nullopt;
}

std::string BuildProgramCommandLine(std::string_view, std::string_view,
                                    const std::optional<std::string>&) {
    return {};
}

std::vector<std::string> SplitCommandLine(std::string_view) {
    return {};
}

bool OpenAsUrl(AppCore&, std::string_view, bool) {
    return false;
}

bool OpenAsFile(AppCore&, std::string_view) {
    return false;
}

bool OpenWithProgram(AppCore&, LIFOClass&, std::string_view, const std::vector<SelectedUrl>&) {
    return false;
}

void CopyUrls(UserInterface&, const std::vector<std::string>&) {}

void CopyFileNames(AppCore&, const std::vector<SelectedUrl>&) {}

UrlInfo ComposeUrlInfo(AppCore&, std::string_view) {
    return {};
}

void ShowUrlInfo(AppCore&, std::string_view) {}

bool OpenHelp(AppCore&) {
    return false;
}

void LoadUseApplications(LIFOClass&, const std::string&) {}

bool SaveUseApplications(const LIFOClass&, const std::string&) {
    return false;
}

}  // namespace kelvra::app
