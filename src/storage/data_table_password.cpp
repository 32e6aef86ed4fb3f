#include "engine/data_session.h"
#include "storage/data_table.h"

namespace nexora {

TDigest TDataTable::SetPassword(const std::string &password) {
  const TDataPassword &entry =
      Session().PasswordForNewTable(password, TErrorNames{.DatabaseName = DatabaseName(), .TableName = TableName()});
  password_ = entry.Borrow();
  return entry.MakeCheck();
}

bool TDataTable::MatchPassword(const TDigest &passwordCheck) {
  const TDataPassword *entry = Session().PasswordForTable(passwordCheck);
  if (entry == nullptr) {
    return false;
  }
  password_ = entry->Borrow();
  return true;
}

void *TDataTable::CryptoContext() const { return dataFile_.IsEncrypted() ? password_.Context : nullptr; }

void TDataTable::EncryptBuffer(void *bytes, std::int32_t length) {
  Engine().EncryptBuffer(password_.Context, bytes, length);
}

void TDataTable::DecryptBuffer(void *bytes, std::int32_t length) {
  Engine().DecryptBuffer(password_.Context, bytes, length);
}

} // namespace nexora
