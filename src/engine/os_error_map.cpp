#include "engine/os_error_map.h"

#include <cerrno>

namespace nexora {

TErrorCode MapOSError(int errorNumber) {
  switch (errorNumber) {
  case ENOENT:
  case ENOTDIR:
    return NEXORA_OSENOENT;
  case EMFILE:
  case ENFILE:
    return NEXORA_OSEMFILE;
  case EACCES:
  case EPERM:
  case EEXIST:
  case EROFS:
  case ETXTBSY:
  case EWOULDBLOCK:
    return NEXORA_OSEACCES;
  case EBADF:
    return NEXORA_OSEBADF;
  case ENOMEM:
    return NEXORA_OSENOMEM;
  case ENODEV:
  case ENXIO:
    return NEXORA_OSENODEV;
  case EXDEV:
    return NEXORA_OSENOTSAM;
  default:
    return NEXORA_OSUNKNOWN;
  }
}

} // namespace nexora
