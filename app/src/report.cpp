// What the console and the history say of a delivery.
#include "app/report.h"

#include "app/exchange.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"
#include "runtime/value.h"

namespace app {

std::string ShownTaskName(std::string_view taskName) {
  return taskName.empty() ? std::string() : rt::JoinTexts(" [", rt::PrintableText(taskName), "]");
}

void ReportDelivery(const AppContext& ctx, History& history, const ExchangeOutcome& outcome,
                    const DeliveryRecord& record) {
  const std::string verdict = outcome.accepted ? "推送完成" : "推送失败";
  const std::string name = record.showTask ? ShownTaskName(record.task) : std::string();
  const std::string stamp = LogStamp(rt::NowLocal(*ctx.clock));
  ctx.console->Write(rt::JoinTexts(stamp, "  ", verdict, name, "\r\n", stamp, name, " ",
                                   outcome.detail, "\r\n\r\n", record.closing));
  history.Write(ctx, {.scheduled = record.scheduled,
                      .task = record.task.empty() ? std::string(kTestTaskName) : record.task,
                      .verdict = verdict,
                      .tries = record.tries,
                      .status = outcome.status,
                      .detail = outcome.detail});
}

}  // namespace app
