#include "app/first_run.h"

#include "app/command_line.h"
#include "app/context.h"
#include "app/schedule_file.h"
#include "runtime/codepage.h"
#include "runtime/file.h"

namespace app {
namespace {

// After a bare Enter or the end of input: the key written into the file
// meanwhile, or "".
std::string KeyFromTheFile(rt::Console& console, const rt::Path& keyPath) {
  std::string key = KeyFromFileText(FileText(rt::ReadFileBytes(keyPath).value_or({})));
  console.Write(key.empty() ? NoKeyText(keyPath) : "已读取 key\r\n",
                key.empty() ? rt::Stream::kErr : rt::Stream::kOut);
  return key;
}

}  // namespace

std::string NoKeyText(const rt::Path& keyPath) {
  return rt::JoinTexts("没有 key: ", ShownPath(keyPath), " 为空或不存在\r\n");
}

std::string AskForKey(AppContext& ctx, const rt::Path& keyPath) {
  rt::Console& console = *ctx.console;
  // Nobody can answer (a service, input at its end): no prompt, no editor,
  // and the caller's failure shows.
  if (console.InputKind() == rt::ConsoleInput::kEnded) {
    console.Write(NoKeyText(keyPath), rt::Stream::kErr);
    return {};
  }
  console.Write("请输入Server酱微信key\r\n");
  console.Write(rt::JoinTexts("key 文件: ", ShownPath(keyPath), "\r\n"));
  // The key is a secret: its file is made for the owner alone before an
  // editor gets to make it for everyone.
  if (!rt::StatFile(keyPath).exists) rt::WriteFileBytes(keyPath, {}, rt::FileAccess::kOwnerOnly);
  const bool opened = ctx.openEditor && ctx.openEditor(keyPath);
  console.Write(opened ? "已用编辑器打开这个文件，填好 key 保存后在这里按回车；"
                         "也可以直接在这里粘贴 key 回车\r\n"
                       : "没能打开编辑器，请自己编辑这个文件，保存后在这里按回车；"
                         "也可以直接在这里粘贴 key 回车\r\n");
  std::string key = KeyFromFileText(console.ReadLine());
  if (key.empty()) return KeyFromTheFile(console, keyPath);
  const std::string utf8 = rt::TextToUtf8(key);
  if (!rt::WriteFileBytes(keyPath, rt::Bytes(utf8.begin(), utf8.end()),
                          rt::FileAccess::kOwnerOnly)) {
    console.Write("key 没能保存到这个文件，请自己编辑后重新运行\r\n");
    return {};
  }
  console.Write("key 已保存\r\n");
  return key;
}

}  // namespace app
