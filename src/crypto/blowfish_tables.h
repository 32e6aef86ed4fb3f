#pragma once

// Initial state of every Blowfish key schedule (internal to the crypto library).

#include <cstdint>

namespace nexora::blowfish_detail {

// P1..P18 and the four S-boxes before keying: consecutive 32-bit words of the
// fractional hexadecimal digits of pi. Read-only; safe from any thread.
extern const std::uint32_t InitialP[18];
extern const std::uint32_t InitialSBox[4][256];

} // namespace nexora::blowfish_detail
