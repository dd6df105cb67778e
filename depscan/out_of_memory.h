// Running out of memory ends the run with one line naming what was being
// done and exit status 1: no crash report, and no listing that passes for
// a whole one.
#pragma once

// Makes exhaustion, in operator new and in the foundation's checked
// allocations alike, print "tracwell: out of memory while <activity>" and
// end the process.
void InstallOutOfMemoryHandler();

// What the message names from here on: the activity, and the file it is
// about when name is not null ("reading 'scene.rib'"). The activity must
// stay valid until the next call; the name is copied.
void NoteActivity(const char* activity, const char* name);
