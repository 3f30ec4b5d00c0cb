#include "app/userinterface.h"

namespace kelvra::app {

void ShowMessage(UserInterface& ui, std::string_view text, std::string_view caption,
                 MessageIcon icon) {
    ui.MessageBox(text, caption, icon, MessageButtons::kOk);
}

}  // namespace kelvra::app
