// Any specification converts to a schedule that names one time of day and
// real days, or fails with the schedule zeroed.
#include "CronSchedule.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string spec = FuzzText(data, size);
  CronSchedule schedule{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF};
  bool badFieldCount = true;
  bool ok = CompileCronSpec(spec.c_str(), schedule, &badFieldCount);
  if (!ok) {
    FUZZ_CHECK(schedule.JobTime == 0 && schedule.DaysOfMonth == 0 && schedule.DaysOfWeek == 0);
    return 0;
  }
  FUZZ_CHECK(!badFieldCount);
  FUZZ_CHECK(schedule.JobTime < 24u * 3600u * 1000u && schedule.JobTime % 1000 == 0);
  FUZZ_CHECK(schedule.DaysOfMonth <= 0x7FFFFFFFu);
  FUZZ_CHECK(schedule.DaysOfWeek <= 0x7F);
  return 0;
}
