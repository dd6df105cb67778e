// Running out of memory ends the run with one line naming what was being
// done and exit status 1: no crash report, and no listing that passes for
// a whole one.
#pragma once

// Makes exhaustion, in operator new and in the foundation's checked
// allocations alike, print "tracwell: out of memory while <activity>" and
// end the process.
void InstallOutOfMemoryHandler();

// What the message names from here on, on the calling thread: the
// activity, and the file it is about when name is not null ("reading
// 'scene.rib'"). The activity must stay valid until the next call; the name
// is copied.
void NoteActivity(const char* activity, const char* name);

// On the calling thread, exhaustion throws std::bad_alloc instead of ending
// the process, while `throws` is set: a stream scanned beside others ends
// its own scan, and the run ends where that stream's turn comes.
void ThrowOnExhaustion(bool throws);

// The message, "tracwell: out of memory while ...\n", for the calling
// thread's activity; made without allocating, valid until the thread's
// next call.
const char* OutOfMemoryMessage();
