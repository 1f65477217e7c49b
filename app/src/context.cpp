#include "app/context.h"

#include "app/first_run.h"
#include "app/schedule_file.h"
#include "runtime/file.h"
#include "runtime/text.h"

namespace app {

std::string ShownPath(const rt::Path& path) {
  return rt::ShownText(path.Display(), kShownPathBytes);
}

rt::Path ProgramFile(const AppContext& ctx, std::string_view name) {
  return (ctx.directory.empty() ? rt::ProgramDirectory() : ctx.directory) / name;
}

std::string ReadKey(const AppContext& ctx) {
  return KeyFromFileText(FileText(rt::ReadFileBytes(ProgramFile(ctx, kKeyFile)).value_or({})));
}

}  // namespace app
