#pragma once

#include <string>
#include <vector>

#include "crypto/md5.h"
#include "engine/data_engine.h"
#include "storage/data_file_owner.h"

namespace nexora {

// A table owner for data file tests. Its passwords are matched as a session matches
// them: the MD5 digest of the text is the key, the engine's CryptoInit makes
// the context, and the stored check value must decipher (DecryptBuffer) to the digest.
class TTestDataOwner : public TDataFileOwner {
public:
  explicit TTestDataOwner(TDataEngine &engine) : engine_(engine) {}
  ~TTestDataOwner() override { FreeCryptoContext(key_); }
  TTestDataOwner(const TTestDataOwner &) = delete;
  TTestDataOwner &operator=(const TTestDataOwner &) = delete;

  // --- TBufferCacheOwner
  void *CryptoContext() const override { return key_.Data; }
  bool InTransaction() const override { return false; }
  bool OpenedExclusively() const override { return exclusive; }
  bool WrittenSinceFlush() const override { return written; }
  void MarkWritten() override {
    written = true;
    ++markedWritten;
  }
  bool ForceFlush() const override { return forceFlush; }
  bool StrictChangeDetection() const override { return true; }
  bool TableChangedFor(TDataCursor *) override { return false; }

  // --- TDataFileOwner
  std::string TableName() const override { return tableName; }
  std::string DatabaseName() const override { return databaseName; }
  bool MatchPassword(const TDigest &passwordCheck) override {
    ++matchCalls;
    for (const std::string &password : passwords) {
      const TDigest digest = DigestText(password);
      TCryptoContext context = engine_.CryptoInit(digest.data(), static_cast<std::int32_t>(digest.size()));
      TDigest deciphered = passwordCheck;
      engine_.DecryptBuffer(context.Data, deciphered.data(), static_cast<std::int32_t>(deciphered.size()));
      if (SameDigest(deciphered, digest)) {
        UseKey(context);
        return true;
      }
      FreeCryptoContext(context);
    }
    return false;
  }

  // Creation: the password becomes the table's key; the check value to store.
  TDigest SetPassword(const std::string &password) {
    const TDigest digest = DigestText(password);
    TCryptoContext context = engine_.CryptoInit(digest.data(), static_cast<std::int32_t>(digest.size()));
    TDigest check = digest;
    engine_.EncryptBuffer(context.Data, check.data(), static_cast<std::int32_t>(check.size()));
    UseKey(context);
    return check;
  }
  void DropKey() { FreeCryptoContext(key_); }

  std::vector<std::string> passwords;
  std::string tableName = "orders";
  std::string databaseName = "/data";
  bool exclusive = true;
  bool written = false;
  bool forceFlush = false;
  int markedWritten = 0;
  int matchCalls = 0;

private:
  void UseKey(TCryptoContext &context) {
    FreeCryptoContext(key_);
    key_ = context;
    context = {};
  }

  TDataEngine &engine_;
  TCryptoContext key_;
};

} // namespace nexora
