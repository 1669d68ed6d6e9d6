// Linked into the module with the static C++ runtime only (CMakeLists.txt).
//
// glibc 2.32 added the flag __libc_single_threaded, and a libstdc++ built
// against such a glibc reads it to skip atomic operations (in reference
// counts, and in the guards of function-local statics) while a process has
// one thread.  The module's own copy of libstdc++ would make it require
// glibc 2.32 for that flag alone.  This definition, hidden inside the module
// like the whole runtime, satisfies those reads instead: false, which glibc
// documents as always correct ("the process may have more than one thread"),
// so the runtime always takes the atomic path.
extern "C" {
char __libc_single_threaded = 0;
}
