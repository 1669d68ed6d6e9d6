// The messages that the binding raises, all here.  The texts are fixed word
// for word; placeholders are filled by the functions below.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::binding::message {

/// The parts one after another.  Appending, where `"..." + std::string(x)`
/// would insert in front, keeps GCC 12 at -O3 from a false -Wrestrict.
inline std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts)
        text.append(part);
    return text;
}

// Conversion of arguments.
inline constexpr const char* k_str_refused = "Can't extract `str` to `Vec`";
inline constexpr const char* k_byte_out_of_range = "out of range integral type conversion attempted";
inline constexpr const char* k_type_name_unknown = "<failed to extract type name>";
/// "'{type}' object cannot be converted to 'Sequence'".
inline std::string not_a_sequence(std::string_view type) {
    return joined({"'", type, "' object cannot be converted to 'Sequence'"});
}
/// A conversion's TypeError, prefixed with the parameter it failed for.
inline std::string argument_error(std::string_view name, std::string_view text) {
    return joined({"argument '", name, "': ", text});
}
/// The text of an object whose str() failed.
inline std::string unprintable(std::string_view type) { return joined({"<unprintable ", type, " object>"}); }
inline constexpr const char* k_unprintable = "<unprintable object>";

// Binding of positional and keyword values.
inline std::string too_many_positional(std::string_view function, std::size_t takes, std::size_t given) {
    return std::string(function) + " takes " + std::to_string(takes) + " positional arguments but " +
           std::to_string(given) + " " + (given == 1 ? "was" : "were") + " given";
}
inline std::string unexpected_keyword(std::string_view function, std::string_view name) {
    return std::string(function) + " got an unexpected keyword argument '" + std::string(name) + "'";
}
inline std::string multiple_values(std::string_view function, std::string_view name) {
    return std::string(function) + " got multiple values for argument '" + std::string(name) + "'";
}
/// "{function} missing 2 required positional arguments: 'a' and 'b'", the
/// names joined by ", " and a last " and " (", and " from three on).
inline std::string missing_positional(std::string_view function, std::span<const std::string_view> names) {
    const std::size_t missing = names.size();
    std::string text = std::string(function) + " missing " + std::to_string(missing) + " required positional " +
                       (missing == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t listed = 0; listed < missing; ++listed) {
        text += '\'';
        text += names[listed];
        text += '\'';
        if (listed + 2 < missing)
            text += ", ";
        else if (listed + 2 == missing)
            text += missing > 2 ? ", and " : " and ";
    }
    return text;
}

// Borrows of the receiver.
inline constexpr const char* k_mutably_borrowed = "Already mutably borrowed";
inline constexpr const char* k_borrowed = "Already borrowed";

// Failures of the interpreter and of the module itself.
inline constexpr const char* k_no_exception = "attempted to fetch exception but none was set";
inline constexpr const char* k_unwrapped_panic = "Unwrapped panic from Python code";
inline constexpr const char* k_api_call_failed = "Python API call failed";
inline constexpr const char* k_capacity_overflow = "capacity overflow";
inline constexpr const char* k_no_exception_set = "no exception was set";
/// A new object that the interpreter could not allocate.
inline std::string allocation_failed(std::string_view description) {
    return joined({"called `Result::unwrap()` on an `Err` value: ", description});
}
inline constexpr const char* k_all_not_extended = "could not append __name__ to __all__";
inline constexpr const char* k_second_interpreter =
    "quorvel does not support sub-interpreters: it is already loaded in another interpreter of this "
    "process";

}  // namespace quorvel::binding::message
