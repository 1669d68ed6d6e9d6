// Linked into the module with the static C++ runtime only (CMakeLists.txt):
// glibc symbols that the runtime's archive refers to, but that glibc 2.17
// lacks, answered inside the module, where they stay hidden like the whole
// runtime.  Nothing here includes a header, so that no declaration of the C
// library's redirects the names below.

extern "C" {

// glibc 2.32 added the flag __libc_single_threaded, and a libstdc++ built
// against such a glibc reads it to skip atomic operations (in reference
// counts, and in the guards of function-local statics) while a process has
// one thread.  False is what glibc documents as always correct ("the process
// may have more than one thread"): the runtime always takes the atomic path.
char __libc_single_threaded = 0;

// From glibc 2.38 on, a program compiled as C23 or with _GNU_SOURCE (as g++
// always is) calls __isoc23_strtoul for strtoul: C23's strtoul, which also
// reads a "0b" prefix.  libstdc++'s emergency exception pool calls it once,
// to read its GLIBCXX_TUNABLES; the C17 strtoul, glibc's own since 2.2.5,
// reads those numbers alike.
unsigned long quorvel_c17_strtoul(const char* text, char** end, int base) noexcept __asm__("strtoul");

unsigned long __isoc23_strtoul(const char* text, char** end, int base) noexcept {
    return quorvel_c17_strtoul(text, end, base);
}

}
