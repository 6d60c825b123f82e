#include "cli/install_record_front.h"

bool IsUpToDate(const update::UpdateOptions& options, const update::UpdateOutcome& outcome) {
  return outcome.planned && !outcome.interrupted && outcome.plan.fetch.empty() &&
         (!options.prune || outcome.plan.obsolete.empty());
}
