#include "app/shutdown.h"

#include "app/startup.h"

namespace kelvra::app {
namespace {

constexpr char kSaveFailed[] = "履歴情報の保存に失敗しました";
constexpr char kSaveFailedCaption[] = "kelvra.hif 保存ｴﾗｰ";

}  // namespace

bool SaveHeaderInformation(UserInterface& ui, store::headerlistex& store, bool fast) {
    const long saved = store.Save(kHeaderFileName, fast);
    // A save that could not even create its temporary file reports 0, as one with nothing to
    // do would; the changed mark it leaves behind tells the two apart.
    const bool failed = saved < 0 || (saved == 0 && store.Changed());
    if (failed) ShowMessage(ui, kSaveFailed, kSaveFailedCaption, MessageIcon::kStop);
    return !failed;
}

}  // namespace kelvra::app
