#include "autostart.h"

#include "app/context.h"
#include "runtime/file.h"
#include "runtime/text.h"

namespace app {
namespace {

using Autostart = CommandLine::Autostart;
using rt::AutostartOutcome;

std::string Shown(const rt::Path& path) {
  return ShownPath(path);
}

AutostartReply OnReply(const rt::AutostartResult& r, bool shortcut, const rt::Path& program) {
  const std::string file = Shown(r.before.file);
  const std::string byHand = rt::JoinTexts(
      "systemctl --user daemon-reload && systemctl --user enable --now ", kAutostartName);
  switch (r.outcome) {
    case AutostartOutcome::kDone:
      if (shortcut) {
        return {rt::JoinTexts(r.before.present ? "已更新" : "已创建",
                              "启动文件夹里的快捷方式，登录 Windows 后会自动运行本程序: ", file),
                0};
      }
      return {rt::JoinTexts("已写入并启用 ", file,
                            "，程序已在后台运行，以后登录后会自动运行 (它的输出: journalctl "
                            "--user -u ",
                            kAutostartName, ")"),
              0};
    case AutostartOutcome::kNoManager:
      return {rt::JoinTexts("已写入 ", file, "，但没有找到 systemctl，请运行: ", byHand), 1};
    case AutostartOutcome::kManagerFailed:
      return {rt::JoinTexts("已写入 ", file, "，但 systemctl 出错 (",
                            rt::ShownText(r.detail, kShownLineBytes), ")，请运行: ", byHand),
              1};
    case AutostartOutcome::kNoFolder:
      return {shortcut ? "找不到启动文件夹，没有设置开机自动运行"
                       : "找不到 systemd 用户单元的文件夹 (没有 HOME?)，没有设置开机自动运行",
              1};
    case AutostartOutcome::kUnfitPath:
      return {rt::JoinTexts("程序的路径含有引号、\\、$ 或控制字符，或者不是 UTF-8，systemd "
                            "不能启动它，请把程序放到别的文件夹: ",
                            Shown(program)),
              1};
    case AutostartOutcome::kFileFailed:
      break;
  }
  return {rt::JoinTexts("没能写入 ", file, "，没有设置开机自动运行"), 1};
}

AutostartReply OffReply(const rt::AutostartResult& r, bool shortcut) {
  const std::string file = Shown(r.before.file);
  switch (r.outcome) {
    case AutostartOutcome::kDone:
      if (!r.before.present) return {"没有设置开机自动运行，无需取消", 0};
      return {shortcut ? rt::JoinTexts("已删除启动文件夹里的快捷方式，登录时不再自动运行: ", file)
                       : rt::JoinTexts("已停止并删除 ", file, "，登录时不再自动运行"),
              0};
    case AutostartOutcome::kNoManager:
      return {rt::JoinTexts("已删除 ", file,
                            "，登录时不再自动运行；没有找到 systemctl，如果程序还在后台运行，"
                            "请运行: systemctl --user stop ",
                            kAutostartName),
              0};
    case AutostartOutcome::kManagerFailed:
      return {rt::JoinTexts("已删除 ", file, "，但 systemctl 出错 (",
                            rt::ShownText(r.detail, kShownLineBytes), ")，程序可能还在后台运行"),
              1};
    default:
      return {rt::JoinTexts("没能删除 ", file), 1};
  }
}

AutostartReply StatusReply(const rt::AutostartEntry& entry) {
  const std::string file = Shown(entry.file);
  if (!entry.present) return {"没有设置开机自动运行；用 --autostart on 设置", 1};
  if (entry.startsProgram) return {rt::JoinTexts("已设置开机自动运行本程序: ", file), 0};
  if (entry.target.empty()) {
    return {rt::JoinTexts(file, " 没有写明启动哪个程序；用 --autostart on 改为本程序"), 1};
  }
  return {rt::JoinTexts(file, " 启动的是另一个程序 (", Shown(entry.target),
                        ")；用 --autostart on 改为本程序"),
          1};
}

}  // namespace

AutostartReply AutostartReport(Autostart action, const rt::AutostartResult& result,
                               rt::AutostartKind kind, const rt::Path& program) {
  const bool shortcut = kind == rt::AutostartKind::kStartupShortcut;
  AutostartReply reply = action == Autostart::kOn    ? OnReply(result, shortcut, program)
                         : action == Autostart::kOff ? OffReply(result, shortcut)
                                                     : StatusReply(result.before);
  reply.line += "\r\n";
  return reply;
}

int RunAutostart(Autostart action, rt::Console& console) {
  const rt::AutostartProgram program{rt::ProgramPath(), std::string(kAutostartName),
                                     std::string(kAutostartTitle)};
  rt::AutostartResult result;
  if (action == Autostart::kOn) {
    result = rt::EnableAutostart(program);
  } else if (action == Autostart::kOff) {
    result = rt::DisableAutostart(program);
  } else {
    result.before = rt::FindAutostart(program);
  }
  const AutostartReply reply = AutostartReport(action, result, rt::kAutostartKind, program.program);
  console.Write(reply.line);
  return reply.exitCode;
}

}  // namespace app
