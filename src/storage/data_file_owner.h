#pragma once

#include <string>

#include "crypto/md5.h"
#include "storage/cache_owner.h"

namespace nexora {

// What a data file needs from the table object that owns it, beyond what its
// buffer cache needs. The table object implements it; the data file calls it from the
// thread that uses the table.
class TDataFileOwner : public TBufferCacheOwner {
public:
  // The names a raise of this file carries: the table's display name (or its name) and
  // the database name of its directory.
  virtual std::string TableName() const = 0;
  virtual std::string DatabaseName() const = 0;
  // The password step of opening an encrypted table (Parts 3.3 and 5.3): finds a session
  // password whose key deciphers the 16-byte check value to that password's own digest,
  // asking the session for passwords while it offers one; the match becomes the table's
  // password, so that CryptoContext() then answers its key. Returns whether one matched
  // (the data file raises 10498 when none did).
  virtual bool MatchPassword(const TDigest &passwordCheck) = 0;
};

} // namespace nexora
