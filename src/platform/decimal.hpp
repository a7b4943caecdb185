#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The one decimal conversion used wherever text becomes a number: ports, Expires, the Via port
// and the numbers of the registration file. Leading white space is skipped, one optional sign is
// taken, then decimal digits up to the first other character; text without digits gives 0.
// A value beyond the 32-bit range clamps to INT32_MIN or INT32_MAX instead of overflowing.
std::int32_t ParseDecimal(std::string_view text);

// Appends value as a signed decimal number, as "%d" writes it.
void AppendDecimal(std::string& out, int value);
