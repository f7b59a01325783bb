// The system parameter set in one command, shared by ZRSysFastSet and
// ZRNetAddrSet (which runs it inside its own call on the same handle).
#pragma once

#include <cstdint>

#include "protocol/exchange.h"

namespace zr::commands {

// Writes `length` bytes of `data` to the system parameters from `address`
// in one command: 00 (length + 3) 63 address length data..., read tries of
// 20 ms. The caller has checked 0 <= length <= 52 and `data`. The result:
// 1, -4 or the reader's status mapped.
int sysFastSet(Call& call, int address, int length, const uint8_t* data);

}  // namespace zr::commands
