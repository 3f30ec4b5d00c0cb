#pragma once
// What the multi-URL dialog does, without its window: reading and saving multi-URL files with
// the messages that tell the result.

#include <string>
#include <vector>

#include "app/userinterface.h"

namespace kelvra::app {

inline constexpr char kMultiUrlTitle[] = "複数URL取得ﾀﾞｲｱﾛｸﾞ";
inline constexpr char kMultiUrlListCaption[] = "取得URL一覧 (URL ﾀﾞﾌﾞﾙｸﾘｯｸで削除)";

// The open-file (save false) or save-file question for a multi-URL file.
FileQuestion MultiUrlFileQuestion(bool save);

// Tells the user how "追加読込" of path went, given what LoadMultiUrlFile returned.
void TellMultiUrlLoad(UserInterface& ui, const std::string& path, int added);

// "一覧保存" to path: nothing for an empty list; otherwise writes the file and tells the user.
// True when it was written.
bool WriteMultiUrlList(UserInterface& ui, const std::string& path,
                       const std::vector<std::string>& list);

}  // namespace kelvra::app
