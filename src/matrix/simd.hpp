// Which variant of the word loops this build compiles.
//
// On x86-64 the loops that gain from wider registers use them: the XOR loops
// and the search for leading positions have an AVX2 variant chosen at load
// time on processors that have it, and packing uses SSE2, which every x86-64
// processor has.  The load-time choice needs the loader's indirect functions,
// which only ELF platforms have, so x86-64 elsewhere (macOS) is portable too.
// Every other target, and x86-64 when configured with
// -DQUORVEL_SIMD=OFF, compiles the portable variants only: plain C++ over
// 64-bit words and GCC/Clang vector types, which the compiler turns into the
// target's own vector instructions (NEON on aarch64).  The option exists so
// that the portable variants are tested on x86-64 machines too.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && !defined(QUORVEL_PORTABLE_WORD_LOOPS)
#define QUORVEL_X86_SIMD 1
#else
#define QUORVEL_X86_SIMD 0
#endif
