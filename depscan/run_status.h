// The work a run could not do. tracwell goes on to the end of the run after
// such a failure, as it always has, but then exits with status 1, so that a
// script can tell: an input word that names nothing readable, and a package
// that lacks something it should hold. Each failure is reported by the code
// that meets it; this only remembers that one happened.
#pragma once

// An input word names something that cannot be read.
void MarkInputUnreadable();

// The package lacks a file, a stream or a reference that it should hold (a
// copy or a write that failed, a stream left out, a failed self-check). One
// call per failure, wherever it is met.
void MarkPackageIncomplete();
bool PackageIsIncomplete();

// 1 when anything above was marked, else 0.
int FailedWorkStatus();

// Forgets every mark (for tests).
void ResetRunStatus();
