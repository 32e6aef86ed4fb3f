#pragma once

#include "engine/error_codes.h"

namespace nexora {

// The engine code of a system error number (errno): missing file or directory 11010,
// too many open files 11012, refused access or sharing 11013, bad descriptor 11014,
// out of memory 11016, no such device 11023, moved across devices 11025, else 11047.
TErrorCode MapOSError(int errorNumber);

} // namespace nexora
