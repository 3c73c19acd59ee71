// Storage of the conversion subsystem's process-wide state.
#include "convert/convert_state.h"

namespace zqr {

ConversionState Conversion;

namespace {
Guarded<EncoderJob>& JobStorage() {
  static Guarded<EncoderJob> job;
  return job;
}
}  // namespace

void SetEncoderJob(const EncoderJob& job) {
  JobStorage().Set(job);
}

EncoderJob CurrentEncoderJob() {
  return JobStorage().Get();
}

}  // namespace zqr
