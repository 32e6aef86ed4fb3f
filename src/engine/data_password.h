#pragma once

#include <string>
#include <string_view>

#include "crypto/md5.h"
#include "engine/data_engine.h"

namespace nexora {

// What a table keeps of the session password it was opened or created with: the text, the
// digest and the session entry's cipher context, which it borrows and never frees. Valid
// while the session that owns the entry lives (entries are freed only with their session).
struct TBorrowedPassword {
  std::string Text;
  TDigest Digest{};
  void *Context = nullptr;
};

// One password a session knows: its text, the MD5 digest of the text and the cipher
// context made with that digest as a 16-byte key. Owns the context and frees it when
// destroyed; neither copied nor moved, so tables may hold its context while the session
// keeps the entry. Requires the engine to outlive it. Used by the thread of its session.
class TDataPassword {
public:
  // Digests the text and makes the context through the engine's CryptoInit; whatever
  // CryptoInit raises passes on and no entry is made.
  TDataPassword(TDataEngine &engine, std::string_view text);
  ~TDataPassword();
  TDataPassword(const TDataPassword &) = delete;
  TDataPassword &operator=(const TDataPassword &) = delete;

  const std::string &Text() const { return text_; }
  const TDigest &Digest() const { return digest_; }
  void *Context() const { return context_.Data; }

  // Whether this password is the one a table was encrypted with: a copy of the table's
  // 16 stored bytes, deciphered with this entry's context, equals this entry's digest.
  // A wrong password is not an error; it simply does not fit.
  bool Fits(const TDigest &storedCheck) const;

  // The 16 bytes a new table stores: this entry's digest enciphered with its context.
  TDigest MakeCheck() const;

  // The table's copy of this entry, sharing the context.
  TBorrowedPassword Borrow() const { return {text_, digest_, context_.Data}; }

private:
  TDataEngine &engine_;
  std::string text_;
  TDigest digest_;
  TCryptoContext context_;
};

} // namespace nexora
