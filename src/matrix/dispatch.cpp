// The eliminations as the binding calls them.
#include "echelon.hpp"

namespace quorvel {

Elimination echelon_form(const Matrix& m) { return exact::echelon_form(m); }
Elimination row_echelon_full_matrix(const Matrix& m) { return exact::row_echelon_full_matrix(m); }
Elimination echelon_form_last_row(const Matrix& m) { return exact::echelon_form_last_row(m); }
Elimination echelon_form_last_row_dep(const Matrix& m) { return exact::echelon_form_last_row_dep(m); }
Index rank(const Matrix& m) { return exact::rank(m); }
std::vector<Row> kernel(const Matrix& m) { return exact::kernel(m); }

}  // namespace quorvel
