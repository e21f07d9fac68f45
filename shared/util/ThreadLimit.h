#pragma once

// The text recognition library runs its networks on OpenMP teams of a fixed size, whose idle
// threads spin: on a busy desktop that costs several times the CPU for no gain. OpenMP reads its
// thread limit only once, when the library is loaded, before main(), and offers no call that
// lowers it later. So the process starts itself again with OMP_THREAD_LIMIT=1 when the variable
// says otherwise. The second start keeps the name the program was started under, and gives the
// variable back its value from the user's environment (or removes it) once the library has read
// it, so every process started from here gets the environment the user gave the program. Returns
// when the limit is in force (or when starting again failed, with the library's defaults).
// Call first thing in main(), before anything else is set up.
void limitOpenMpThreads(char** argv);
