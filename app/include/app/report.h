// What the console and the history say of a delivery's verdict.
#pragma once

#include <string>
#include <string_view>

#include "app/context.h"
#include "app/exchange.h"
#include "app/history.h"
#include "runtime/clock.h"

namespace app {

// "yyyy-MM-dd hh:mm:ss", the form of the console's time stamps.
std::string LogStamp(rt::DateTime when);

// What the report of a delivery names.
struct DeliveryRecord {
  rt::DateTime scheduled = 0;
  std::string task;       // "": the test reminder
  bool showTask = false;  // on the console, where only several tasks are told apart
  int attempts = 1;
};
// The history's name for the test reminder.
inline constexpr std::string_view kTestTaskName = "(测试)";
// " [name]" for a task name, "" for none.
std::string ShownTaskName(std::string_view taskName);
// The two console lines of the final verdict, and the history line.
void ReportDelivery(const AppContext& ctx, History& history, const ExchangeOutcome& outcome,
                    const DeliveryRecord& record);

}  // namespace app
