// The peak resident memory of this process over one stretch of work, such as one run
// of several in a benchmark.
#pragma once

// Starts a new stretch: the kernel forgets the peak so far, so that ru_maxrss then
// tells the largest size since this call. Without that, ru_maxrss would keep the
// largest of all runs before.
void ResetPeakMemory();
// ru_maxrss of this process, in KiB: the peak since the last ResetPeakMemory.
long PeakMemoryKb();
