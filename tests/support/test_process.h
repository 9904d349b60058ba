// What the test process holds: its threads, its descriptors, its rights.
#pragma once

namespace orvanel::test {

int CountThreads();      // entries of /proc/self/task
int CountDescriptors();  // entries of /proc/self/fd

// Removes CAP_NET_RAW from the calling thread's effective rights; other
// threads keep theirs.
bool DropNetRawOnThisThread();

}  // namespace orvanel::test
