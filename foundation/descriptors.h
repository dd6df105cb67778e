// Closing the descriptors a child would inherit, before it runs another
// program. System calls only (no allocation, no lock), so that a vforked
// child may call them.
#pragma once

// Closes every descriptor from `first` up: in one system call where the C
// library and the kernel offer close_range, else those that /proc/self/fd
// lists, else one by one below the descriptor limit.
void ZpCloseDescriptorsFrom(int first);

// The two fallbacks on their own. The first returns false, and may have
// closed only some, when /proc/self/fd cannot be read to its end.
bool ZpCloseListedDescriptorsFrom(int first);
void ZpCloseDescriptorsBelowLimit(int first);
