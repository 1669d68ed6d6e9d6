// Internal failures of the GF(2) core.
//
// A check that does not hold throws `quorvel::Panic` right where it fails.
// The exception carries the message and the source location of the check;
// the Python binding turns it into the interpreter's exception at its call
// boundary.  The core itself never prints and never aborts.
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>

namespace quorvel {

/// An internal check that did not hold: its message and where it failed.
class Panic : public std::exception {
public:
    explicit Panic(std::string message,
                   std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    /// The failure message, for example
    /// "index out of bounds: the len is 2 but the index is 5".
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    /// The check that failed.
    [[nodiscard]] const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

/// Throws `Panic(message)` located at the caller.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// The messages of the core's failures, all here.

/// An absent value that was required to be present.
inline constexpr const char* k_unwrap_none = "called `Option::unwrap()` on a `None` value";
/// "index out of bounds: the len is {len} but the index is {index}".
[[nodiscard]] std::string index_message(std::uint64_t index, std::uint64_t len);
/// "slice index starts at {start} but ends at {end}".
[[nodiscard]] std::string slice_order_message(std::uint64_t start, std::uint64_t end);
/// "range end index {end} out of range for slice of length {len}".
[[nodiscard]] std::string slice_end_message(std::uint64_t end, std::uint64_t len);

[[noreturn]] void fail_index(std::uint64_t index, std::uint64_t len, std::source_location where);

/// The one index check of the core: fails with
/// "index out of bounds: the len is {len} but the index is {index}"
/// located at the caller when `index >= len`.
inline void check_index(std::uint64_t index, std::uint64_t len,
                        std::source_location where = std::source_location::current()) {
    if (index >= len) [[unlikely]]
        fail_index(index, len, where);
}

}  // namespace quorvel
