// What the console and the history say of a delivery's verdict.
#pragma once

#include <string>
#include <string_view>

#include "app/context.h"
#include "app/exchange.h"
#include "app/history.h"
#include "runtime/clock.h"

namespace app {

// What the report of a delivery names.
struct DeliveryRecord {
  rt::DateTime scheduled = 0;
  std::string task;       // "": the test reminder
  bool showTask = false;  // on the console, where only several tasks are told apart
  int tries = 1;
  std::string_view closing;  // a line of its own after the verdict's, if any
};
// " [name]" for a task name, "" for none.
std::string ShownTaskName(std::string_view taskName);
// The two console lines of the final verdict, written at once so that no
// other delivery's come between them, and the history line.
void ReportDelivery(const AppContext& ctx, History& history, const ExchangeOutcome& outcome,
                    const DeliveryRecord& record);

}  // namespace app
