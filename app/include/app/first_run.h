// The first run, without a key: the prompt names the key file, opens it in
// the editor, and takes a key pasted at the prompt as well.
#pragma once

#include <string>

#include "app/reminder.h"

namespace app {

// Asks for the key. A non-blank line typed at the prompt is trimmed as the
// key file is, saved to keyPath (UTF-8, replacing the file whole) and
// returned; a bare Enter, the end of input or a failed save gives "".
std::string AskForKey(AppContext& ctx, const rt::Path& keyPath);

}  // namespace app
