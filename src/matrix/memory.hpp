// Hints to the operating system about large working buffers.
#pragma once

#include <cstddef>

namespace quorvel {

/// Asks for transparent huge pages on the whole 2 MiB pages inside
/// [data, data + bytes): a buffer of tens of megabytes that is written once
/// then costs a few hundred page faults instead of tens of thousands.  Only a
/// hint: it changes no contents and does nothing where it is not supported.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

/// Buffers from this size on are worth the hint.
inline constexpr std::size_t k_huge_buffer = std::size_t{8} << 20;

}  // namespace quorvel
