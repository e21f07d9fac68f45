#pragma once

// The text recognition library runs its networks on OpenMP teams of a fixed size, whose idle
// threads spin: on a busy desktop that costs several times the CPU for no gain. OpenMP reads its
// thread limit only once, when the library is loaded, before main(). So the process sets
// OMP_THREAD_LIMIT=1 and starts itself again when the variable says otherwise; it returns when the
// limit is in force (or when starting again failed, with the library's defaults).
// Call first thing in main(), before anything else is set up.
void limitOpenMpThreads(char** argv);
