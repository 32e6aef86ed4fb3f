#include "engine/data_password.h"

namespace nexora {
namespace {

constexpr std::int32_t DigestLength = static_cast<std::int32_t>(sizeof(TDigest));

} // namespace

TDataPassword::TDataPassword(TDataEngine &engine, std::string_view text)
    : engine_(engine), text_(text), digest_(DigestText(text)),
      context_(engine.CryptoInit(digest_.data(), DigestLength)) {}

TDataPassword::~TDataPassword() { FreeCryptoContext(context_); }

bool TDataPassword::Fits(const TDigest &storedCheck) const {
  TDigest deciphered = storedCheck;
  engine_.DecryptBuffer(context_.Data, deciphered.data(), DigestLength);
  return SameDigest(deciphered, digest_);
}

TDigest TDataPassword::MakeCheck() const {
  TDigest check = digest_;
  engine_.EncryptBuffer(context_.Data, check.data(), DigestLength);
  return check;
}

} // namespace nexora
