#include "run_status.h"

namespace {

// One thread marks them; plain flags are enough.
bool inputUnreadable = false;
bool packageIncomplete = false;

}  // namespace

void MarkInputUnreadable() { inputUnreadable = true; }

void MarkPackageIncomplete() { packageIncomplete = true; }

bool PackageIsIncomplete() { return packageIncomplete; }

int FailedWorkStatus() { return inputUnreadable || packageIncomplete ? 1 : 0; }

void ResetRunStatus() {
  inputUnreadable = false;
  packageIncomplete = false;
}
