#pragma once

namespace qmt {

// How the program's heap behaves; called first thing in main(), before any thread starts.
//
// The C library gives every thread that allocates at the same time a heap of its own and keeps
// up to 64 MB of freed memory in each. Thumbnail workers free tens of megabytes after every
// large photo, so each worker's heap would hold on to that much. One heap shared by all threads
// reuses what another thread freed; the workers allocate seldom, so they hardly ever wait.
void applyMemoryPolicy();

// Gives freed heap memory back to the system, after work that used a lot of it for a while
// (a folder listing); cheap next to that work.
void releaseFreeMemory();

} // namespace qmt
