// Decimal text for doubles, as the Python reprs show them.
#pragma once

#include <string>

namespace quorvel {

// The shortest decimal text that reads back as `value`, always with a
// fraction or an exponent so that it never reads as an integer: 25.0, -0.5,
// 0.0001, 1e16, 2.5e-5. Positional from 1e-4 up to but excluding 1e16,
// scientific outside; negative zero keeps its sign ("-0.0"); NaN is "NaN",
// the infinities "inf" and "-inf".
std::string format_shortest(double value);

}  // namespace quorvel
