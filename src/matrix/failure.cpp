#include "failure.hpp"

namespace quorvel {

void panic(std::string message, std::source_location where) {
    throw Panic(std::move(message), where);
}

std::string index_message(std::uint64_t index, std::uint64_t len) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

std::string slice_order_message(std::uint64_t start, std::uint64_t end) {
    return "slice index starts at " + std::to_string(start) + " but ends at " + std::to_string(end);
}

std::string slice_end_message(std::uint64_t end, std::uint64_t len) {
    return "range end index " + std::to_string(end) + " out of range for slice of length " +
           std::to_string(len);
}

void fail_index(std::uint64_t index, std::uint64_t len, std::source_location where) {
    throw Panic(index_message(index, len), where);
}

}  // namespace quorvel
