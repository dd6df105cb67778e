#include "run_status.h"

#include <atomic>

namespace {

// Streams are scanned on several threads.
std::atomic<bool> inputUnreadable{false};
std::atomic<bool> packageIncomplete{false};

}  // namespace

void MarkInputUnreadable() { inputUnreadable = true; }

void MarkPackageIncomplete() { packageIncomplete = true; }

bool PackageIsIncomplete() { return packageIncomplete; }

int FailedWorkStatus() { return inputUnreadable || packageIncomplete ? 1 : 0; }

void ResetRunStatus() {
  inputUnreadable = false;
  packageIncomplete = false;
}
