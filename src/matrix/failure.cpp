#include "failure.hpp"

namespace quorvel {

void panic(std::string message, std::source_location where) {
    throw Panic(std::move(message), where);
}

void fail_index(std::uint64_t index, std::uint64_t len, std::source_location where) {
    throw Panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                    std::to_string(index),
                where);
}

}  // namespace quorvel
