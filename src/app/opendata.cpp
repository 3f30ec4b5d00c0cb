#include "app/opendata.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/settings.h"
#include "app/storeview.h"
#include "net/url.h"
#include "platform/profile.h"
#include "util/strutil.h"

namespace kelvra::app {

namespace {

constexpr std::size_t kFileNameCapacity = 256;  // the store's local-path limit
constexpr std::string_view kUrlMark = "$URL$";
constexpr std::string_view kFileMark = "$FILE$";
constexpr int kLocalMode = 1;

std::string_view WithoutStar(std::string_view url) {
    if (url.starts_with('*')) url.remove_prefix(1);
    return url;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Appends a placeholder's replacement set off by blanks.
void AppendReplacement(std::string& out, std::string_view text) {
    if (!out.empty() && !IsBlank(out.back())) out += ' ';
    out += text;
    out += ' ';
}

std::string JoinLines(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts) {
        if (!joined.empty()) joined += '\n';
        joined += text;
    }
    return joined;
}

// The stored file of a URL's record when the file exists.
std::optional<std::string> ExistingStoredFile(AppCore& core, std::string_view url) {
    std::string path;
    if (!core.Store().GetUrlLocalPath(url, path)) return std::nullopt;
    if (::access(path.c_str(), F_OK) != 0) return std::nullopt;
    return path;
}

std::string Format(const char* format, long value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::optional<std::string> FileNameOfUrl(AppCore& core, const SelectedUrl& selected) {
    if (selected.pane == Pane::kList) {
        std::string path;
        if (!core.Store().GetUrlLocalPath(selected.url, path)) return std::nullopt;
        return path;
    }
    const std::size_t mark = selected.url.find("://");
    const std::string_view rest = mark == std::string::npos
                                      ? std::string_view(selected.url)
                                      : std::string_view(selected.url).substr(mark + 3);
    return core.DataDirectoryPath() + net::FileSafeName(rest, kFileNameCapacity);
}

std::string BuildProgramCommandLine(std::string_view command_line, std::string_view url,
                                    const std::optional<std::string>& file_name) {
    const std::size_t question = command_line.find('?');
    std::string out(command_line.substr(0, question));
    bool placeholder = false;
    if (question != std::string_view::npos) {
        std::string_view options = command_line.substr(question + 1);
        while (!options.empty() && IsBlank(options.front())) options.remove_prefix(1);
        if (!options.empty()) out += ' ';
        for (std::size_t i = 0; i < options.size(); ++i) {
            const std::string_view rest = options.substr(i);
            if (rest.starts_with(kUrlMark)) {
                AppendReplacement(out, url);
                i += kUrlMark.size() - 1;
                placeholder = true;
            } else if (rest.starts_with(kFileMark)) {
                if (file_name) AppendReplacement(out, *file_name);
                i += kFileMark.size() - 1;
                placeholder = true;
            } else {
                out += options[i];
            }
        }
    }
    if (!placeholder && file_name) out += " " + *file_name;
    while (!out.empty() && IsBlank(out.back())) out.pop_back();
    return out;
}

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
    std::vector<std::string> args;
    std::string arg;
    bool in_argument = false;
    bool quoted = false;
    for (const char c : command_line) {
        if (c == '"') {
            quoted = !quoted;
            in_argument = true;
        } else if (IsBlank(c) && !quoted) {
            if (in_argument) args.push_back(std::move(arg));
            arg.clear();
            in_argument = false;
        } else {
            arg += c;
            in_argument = true;
        }
    }
    if (in_argument) args.push_back(std::move(arg));
    return args;
}

bool OpenAsUrl(AppCore& core, std::string_view url, bool keep_mode) {
    url = WithoutStar(url);
    const bool switch_mode = !(keep_mode && core.ServerMode() != 0);
    const std::uint32_t previous = switch_mode ? core.SetServerMode(kLocalMode, false) : 0;
    const int code = core.Ui().OpenWithDesktop(url);
    if (code == 0) return true;
    if (switch_mode) core.SetServerMode(previous, true);
    core.Ui().Beep(Sound::kExclamation);
    core.Ui().StatusText(Format("WWWブラウザ起動エラー(Code=%ld)", code));
    return false;
}

bool OpenAsFile(AppCore& core, std::string_view url) {
    url = WithoutStar(url);
    UserInterface& ui = core.Ui();
    const std::optional<std::string> path = ExistingStoredFile(core, url);
    if (!path) {
        ui.Beep(Sound::kExclamation);
        ui.StatusText("選択されたURLのﾃﾞｰﾀ(ﾌｧｲﾙ)は存在しません");
        return false;
    }
    const int code = ui.OpenWithDesktop(*path);
    if (code == 0) return true;
    ui.Beep(Sound::kExclamation);
    ui.StatusText(Format("ｱﾌﾟﾘｹｰｼｮﾝ起動ｴﾗｰ(Code=%ld)", code));
    return false;
}

bool OpenWithProgram(AppCore& core, LIFOClass& applications, std::string_view command_line,
                     const std::vector<SelectedUrl>& urls) {
    applications.Add(command_line);
    for (const SelectedUrl& selected : urls) {
        const std::string line =
            BuildProgramCommandLine(command_line, selected.url, FileNameOfUrl(core, selected));
        const std::vector<std::string> argv = SplitCommandLine(line);
        if (argv.empty() || !core.Ui().StartProcess(argv)) {
            ShowMessage(core.Ui(), "選択したﾌﾟﾛｸﾞﾗﾑが起動できません", "ｱﾌﾟﾘｹｰｼｮﾝ起動ｴﾗｰ",
                        MessageIcon::kStop);
            return false;
        }
    }
    return true;
}

void CopyUrls(UserInterface& ui, const std::vector<std::string>& urls) {
    ui.SetClipboardText(JoinLines(urls));
}

void CopyFileNames(AppCore& core, const std::vector<SelectedUrl>& urls) {
    std::vector<std::string> names;
    for (const SelectedUrl& selected : urls) {
        if (std::optional<std::string> name = FileNameOfUrl(core, selected)) {
            names.push_back(std::move(*name));
        }
    }
    core.Ui().SetClipboardText(JoinLines(names));
}

UrlInfo ComposeUrlInfo(AppCore& core, std::string_view url) {
    store::headerlistmanager& store = core.Store();
    util::MutexLock lock(store.Mutex());
    const store::treelistnode* node = store.FindRecord(url);
    const char* record = node ? node->value().text() : nullptr;
    if (record && record[0] == '#') {
        return {record, std::string(url), MessageIcon::kInformation};
    }
    if (!node) return {std::string(url), "履歴情報がありません", MessageIcon::kExclamation};
    UrlInfo info{std::string(url), {}, MessageIcon::kNone};
    std::string path;
    store.GetNodeLocalPath(node, path);
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) {
        info.caption = "ﾃﾞｰﾀﾌｧｲﾙがありません.";
        return info;
    }
    info.text += "\n\n格納場所 : " + path + Format("\nﾃﾞｰﾀｻｲｽﾞ : %ld byte(s)", file.st_size);
    if (!store.NodeField(node, "XRange:").empty()) info.text += "(取得未完了)";
    const std::string_view modified = store.NodeField(node, "LM:");
    if (!modified.empty()) info.text += "\n最終更新 : " + std::string(modified);
    std::string type;
    if (store.GetNodeContentType(node, type)) info.text += "\nﾃﾞｰﾀ種類 : " + type;
    if (std::optional<std::string> title = NodeTitle(store, *node, "/html")) {
        info.caption = Cp932ToUtf8(*title);
    } else {
        info.caption = type;
    }
    return info;
}

void ShowUrlInfo(AppCore& core, std::string_view url) {
    const UrlInfo info = ComposeUrlInfo(core, url);
    ShowMessage(core.Ui(), info.text, info.caption, info.icon);
}

bool OpenHelp(AppCore& core) {
    UserInterface& ui = core.Ui();
    for (;;) {
        const std::string& help = core.Settings().help_file;
        if (!help.empty() && ui.OpenWithDesktop(help) == 0) return true;
        if (ui.MessageBox("ﾍﾙﾌﾟﾌｧｲﾙが設定されていないか、異常なﾌｧｲﾙです.\n設定しますか?",
                          "ﾍﾙﾌﾟﾌｧｲﾙの設定", MessageIcon::kNone,
                          MessageButtons::kYesNo) != DialogResult::kYes) {
            return false;
        }
        const FileQuestion question{"ﾍﾙﾌﾟﾌｧｲﾙを選択してください", "すべてのﾌｧｲﾙ (*.*)", "*", "",
                                    false};
        std::optional<std::string> chosen = ui.ChooseFile(question);
        if (!chosen) return false;
        std::string_view name = *chosen;
        while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
        core.Settings().help_file = std::string(name.substr(0, kMaxSettingText));
    }
}

void LoadUseApplications(LIFOClass& applications, const std::string& ini_path) {
    const auto ini = platform::ProfileDocument::Load(ini_path);
    if (ini) applications.Load(kUseApplicationsSection, *ini);
}

bool SaveUseApplications(const LIFOClass& applications, const std::string& ini_path) {
    auto ini = platform::ProfileDocument::Load(ini_path);
    if (!ini) return false;
    return applications.Save(kUseApplicationsSection, *ini) && ini->Save(ini_path);
}

}  // namespace kelvra::app
