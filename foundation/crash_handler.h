// Turns a fatal signal into a short report on standard error (header, fault
// address, stack trace, registers, memory line) and ends the process with
// status 1. SIGHUP gives the same report and the program goes on; SIGUSR1
// makes every thread report. Also owns the memory figures that the report
// prints.
#pragma once

#include <signal.h>
#include <sys/ucontext.h>

#include <cstddef>
#include <cstdint>

// Installs the handlers for SIGILL, SIGTRAP, SIGABRT, SIGFPE, SIGBUS,
// SIGSEGV, SIGSYS and SIGHUP, and the all-thread dump for SIGUSR1 unless
// another handler function has it already. False, with nothing installed,
// when ZP_DUMP_CORE is set (to any value).
bool ZpInstallCrashHandler();

// Gives the calling thread the stack that a report of a stack overflow runs
// on; every thread that may overflow its stack calls it once (the
// installing thread has one already).
void ZpPrepareThreadForCrashReports();

// Sends the stack trace to the system log ("/dev/log") instead of standard
// error and leaves out the register dump. Always true.
bool ZpEnableSyslogStackTrace();

// The handler of the fatal signals and SIGHUP; `context` is the interrupted
// thread's ucontext_t.
void ZpCrashSignalHandler(int signal, siginfo_t* info, void* context);

// Writes the stack-trace section; false when no frame could be captured.
bool ZpPrintStackTrace();

// Writes the register section (only while the log switch is off).
void ZpDumpRegisters(const mcontext_t* registers);

// Writes the memory line alone to standard error; the bytes written, or -1.
int ZpPrintMemoryReport();

// The SIGUSR1 handler: sends SIGHUP to every thread of the process.
void ZpDumpAllThreads(int signal);

// Directory-walk callback over "/proc/self/task": SIGHUP to the thread whose
// id is the entry name; other names are skipped.
void ZpHangupThread(const char* fullPath, const char* name, void* user);

// Bytes of physical memory; 0 when it cannot be asked.
uint64_t ZpPhysicalMemory();
// "MemAvailable" of /proc/meminfo in bytes; 0 when it cannot be read.
uint64_t ZpAvailableMemory();
// The last "VmRSS" of /proc/self/status in bytes; 0 when it cannot be read.
uint64_t ZpResidentMemory();

// The same over other files, for tests.
uint64_t ZpAvailableMemoryFrom(const char* meminfoPath);
uint64_t ZpResidentMemoryFrom(const char* statusPath);

// Formats "Process is using %u of %u MB. System memory load is %u%%.\n"
// (megabytes of 1000000 bytes) into `out`. With no physical figure the load
// reads 0; returns what snprintf returned.
int ZpFormatMemoryLine(char* out, size_t size, uint64_t resident, uint64_t physical,
                       uint64_t available);
