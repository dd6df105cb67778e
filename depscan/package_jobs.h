// The work of a package run done side by side: independent jobs (one
// stream to rewrite, one stream to check) run on several threads, yet the
// run reads as if they ran one after another in order. What a job says
// through PackageNote and PackageWarning is held until every earlier job
// has been written, then written in the order it was said.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Runs job(0) .. job(count - 1) on up to `threads` threads (0 or 1: on the
// calling thread, one after another) and returns when all have run. A job
// must touch nothing another job touches unless that is safe under
// threads; what it prints goes through the functions below.
void RunPackageJobs(size_t count, unsigned threads, const std::function<void(size_t)>& job);

// True on a thread while it runs a job of RunPackageJobs with more than one
// thread.
bool InPackageJob();

// printf to standard output, or to standard error: at once outside a job,
// held for the job's turn inside one.
void PackageNote(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PackageWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The bytes of `text` as they are (NULs too), to standard error as above.
void PackageWarningText(const std::string& text);
