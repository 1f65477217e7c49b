// The first run, without a key: the prompt names the key file, opens it in
// the editor, and takes a key pasted at the prompt, or written into the file
// before a bare Enter.
#pragma once

#include <string>

#include "app/reminder.h"

namespace app {

// Asks for the key. A non-blank line typed at the prompt is trimmed as the
// key file is, saved to keyPath (UTF-8, replacing the file whole) and
// returned; after a bare Enter or the end of input the file is read again.
// "" when no key came or a typed one could not be saved. Input that has
// ended before (a service's) gets no prompt and no editor, only NoKeyText.
std::string AskForKey(AppContext& ctx, const rt::Path& keyPath);

// The one line that says there is no key, naming the key file.
std::string NoKeyText(const rt::Path& keyPath);

}  // namespace app
