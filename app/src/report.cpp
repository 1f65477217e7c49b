// What the console and the history say of a delivery.
#include "app/report.h"

#include "app/exchange.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"
#include "runtime/value.h"

namespace app {

std::string LogStamp(rt::DateTime when) {
  return rt::FormatDateTime(when, "yyyy-MM-dd", " hh:mm:ss", true);
}

std::string ShownTaskName(std::string_view taskName) {
  return taskName.empty() ? std::string() : rt::JoinTexts(" [", rt::PrintableText(taskName), "]");
}

void ReportDelivery(const AppContext& ctx, History& history, const ExchangeOutcome& outcome,
                    const DeliveryRecord& record) {
  const std::string verdict = outcome.accepted ? "推送完成" : "推送失败";
  const std::string name = record.showTask ? ShownTaskName(record.task) : std::string();
  ctx.console->Write(
      rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)), "  ", verdict, name, "\r\n"));
  ctx.console->Write(
      rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)), name, " ", outcome.detail, "\r\n\r\n"));
  history.Write(ctx, {.scheduled = record.scheduled,
                      .task = record.task.empty() ? std::string(kTestTaskName) : record.task,
                      .verdict = verdict,
                      .attempts = record.attempts,
                      .status = outcome.status,
                      .detail = outcome.detail});
}

}  // namespace app
