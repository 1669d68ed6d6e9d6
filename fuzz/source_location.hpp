// std::source_location for clang 14 with libstdc++ 12, whose header defines
// it only for compilers with __builtin_source_location (clang 15 on).  The
// fuzz build force-includes this file; elsewhere it is never used.
#pragma once

#include <version>

#if defined(__clang__) && !__has_builtin(__builtin_source_location)
#include <cstdint>

namespace std {
struct source_location {
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             std::uint_least32_t line = __builtin_LINE(),
                                             std::uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location here;
        here.file_ = file;
        here.function_ = function;
        here.line_ = line;
        here.column_ = column;
        return here;
    }
    constexpr source_location() noexcept = default;
    [[nodiscard]] constexpr const char* file_name() const noexcept { return file_; }
    [[nodiscard]] constexpr const char* function_name() const noexcept { return function_; }
    [[nodiscard]] constexpr std::uint_least32_t line() const noexcept { return line_; }
    [[nodiscard]] constexpr std::uint_least32_t column() const noexcept { return column_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    std::uint_least32_t line_ = 0;
    std::uint_least32_t column_ = 0;
};
}  // namespace std
#endif
