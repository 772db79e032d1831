// Unicode letter-or-digit classification, independent of the C locale.
#pragma once

namespace knowledge {

// True for letters and digits in the Unicode sense: Alphabetic code points
// (letters, letter numbers, combining vowel signs and the like) and the
// numeric categories Nd, Nl and No.
bool is_alphanumeric(char32_t c);

}  // namespace knowledge
