#include "app/multiurlform.h"

#include "app/urlsources.h"

namespace kelvra::app {

namespace {

constexpr char kNotMultiUrlFile[] = "ﾌｧｲﾙが開けないか、.mus ﾌｧｲﾙではありません";
constexpr char kMultiUrlFileRead[] = "複数URLﾌｧｲﾙ(.mus)を読み込みました";
constexpr char kCannotCreate[] = "ﾌｧｲﾙを作成できません";
constexpr char kListSaved[] = "設定を保存しました";

}  // namespace

FileQuestion MultiUrlFileQuestion(bool save) {
    FileQuestion question;
    question.title = kMultiUrlTitle;
    question.filter_text = "複数URL設定ﾌｧｲﾙ (*.mus)";
    question.pattern = "*.mus";
    question.default_extension = "mus";
    question.save = save;
    return question;
}

void TellMultiUrlLoad(UserInterface& ui, const std::string& path, int added) {
    if (added < 1) {
        ShowMessage(ui, kNotMultiUrlFile, path, MessageIcon::kStop);
    } else {
        ShowMessage(ui, kMultiUrlFileRead, path, MessageIcon::kInformation);
    }
}

bool WriteMultiUrlList(UserInterface& ui, const std::string& path,
                       const std::vector<std::string>& list) {
    if (list.empty()) return false;
    if (!SaveMultiUrlFile(path, list)) {
        ShowMessage(ui, kCannotCreate, path, MessageIcon::kStop);
        return false;
    }
    ShowMessage(ui, kListSaved, path, MessageIcon::kInformation);
    return true;
}

}  // namespace kelvra::app
