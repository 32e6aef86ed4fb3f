#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_engine.h"
#include "file_test_support.h"
#include "storage/field_def.h"
#include "storage/index_file.h"
#include "storage/record_layout.h"
#include "test_buffer_file.h"

namespace nexora::testing {

// Field definitions laid out one after another from the first field slot, as a table
// would hold them; the table's page size and locale are set by the test.
class TTestIndexContext : public TIndexFileContext {
public:
  std::int32_t IndexPageSize() const override { return pageSize; }
  std::uint32_t LocaleId() const override { return localeId; }
  std::string TableName() const override { return "orders"; }
  const TFieldDef *FieldDef(std::int16_t number) const override {
    return number >= 1 && number <= FieldCount() ? &fields[static_cast<std::size_t>(number - 1)] : nullptr;
  }
  std::int32_t FieldCount() const override { return static_cast<std::int32_t>(fields.size()); }

  // Adds a field and returns its number.
  std::int16_t Add(std::uint8_t type, std::uint16_t declaredSize = 0, std::uint8_t subtype = fstNone) {
    TFieldDef def;
    def.SetNumber(static_cast<std::uint16_t>(fields.size() + 1));
    def.SetName("F" + std::to_string(fields.size() + 1));
    def.SetType(type);
    def.SetSubtype(subtype);
    def.SetDeclaredSize(declaredSize);
    def.SetPhysicalSize(ComputePhysicalSize(type, subtype, declaredSize));
    def.SetRecordOffset(static_cast<std::uint16_t>(nextOffset_));
    nextOffset_ += 1 + def.PhysicalSize();
    fields.push_back(def);
    return static_cast<std::int16_t>(def.Number());
  }
  std::size_t RecordSize() const { return (nextOffset_ + 7) / 8 * 8; }

  std::int32_t pageSize = 4096;
  std::uint32_t localeId = 0;
  std::vector<TFieldDef> fields;

private:
  std::size_t nextOffset_ = RecordFieldsOffset;
};

// A cache owner whose table is encrypted with a key made from a password.
class TEncryptedCacheOwner : public TTestCacheOwner {
public:
  TEncryptedCacheOwner(TDataEngine &engine, const std::string &password) {
    key_ = engine.CryptoInit(password.data(), static_cast<std::int32_t>(password.size()));
  }
  ~TEncryptedCacheOwner() override { FreeCryptoContext(key_); }
  TEncryptedCacheOwner(const TEncryptedCacheOwner &) = delete;
  TEncryptedCacheOwner &operator=(const TEncryptedCacheOwner &) = delete;
  void *CryptoContext() const override { return key_.Data; }

private:
  TCryptoContext key_;
};

// An index definition with the given name, fields and options.
inline TIndexDef MakeIndexDef(const std::string &name, std::initializer_list<std::int16_t> fields, bool unique,
                              std::uint8_t compression = icNone) {
  TIndexDef def;
  def.SetName(name);
  def.SetFields(fields);
  def.SetUnique(unique);
  def.SetCompression(compression);
  return def;
}

// An index file created in a temporary directory over a table with an integer field (1),
// a string field of 2 characters (2), a string field of 20 (3) and a memo field (4).
class TIndexFileTest : public ::testing::Test {
protected:
  TIndexFileTest() {
    integerField = context.Add(ftcInteger);
    shortStringField = context.Add(ftcString, 2);
    stringField = context.Add(ftcString, 20);
    memoField = context.Add(ftcBlob, 0, fstMemo);
  }
  ~TIndexFileTest() override { file.reset(); }

  // Creates the file with the plain or the encrypted owner.
  void Create(bool encrypted = false) {
    file = std::make_unique<TIndexFile>(engine, path, false, Owner(encrypted), context);
    file->CreateFile();
  }
  // Writes everything and opens the file again through a new object.
  void Reopen(bool encrypted = false) {
    Save();
    file->CloseFile();
    file = std::make_unique<TIndexFile>(engine, path, false, Owner(encrypted), context);
    file->OpenFile();
  }
  void Save() {
    file->FlushBuffers(false);
    file->WriteHeader(true);
    file->WriteIndexDefs(true);
  }
  TTestCacheOwner &Owner(bool encrypted) {
    if (encrypted && !encryptedOwner) {
      encryptedOwner = std::make_unique<TEncryptedCacheOwner>(engine, "secret");
    }
    return encrypted ? static_cast<TTestCacheOwner &>(*encryptedOwner) : plainOwner;
  }
  // The file's bytes of page n.
  TBytes PageBytes(std::int32_t n) {
    const TBytes all = ReadBytes(path);
    const auto start =
        static_cast<std::size_t>(IndexFirstPageOffset + (n - 1) * static_cast<std::int64_t>(context.pageSize));
    return TBytes(all.begin() + static_cast<std::ptrdiff_t>(start),
                  all.begin() + static_cast<std::ptrdiff_t>(start + static_cast<std::size_t>(context.pageSize)));
  }
  // Overwrites bytes of the file at an offset.
  void Patch(std::int64_t offset, const TBytes &bytes) {
    TBytes all = ReadBytes(path);
    std::copy(bytes.begin(), bytes.end(), all.begin() + offset);
    WriteBytes(path, all);
  }

  TDataEngine engine;
  TTempDir dir;
  std::string path = dir.File("orders.idx");
  TTestIndexContext context;
  TTestCacheOwner plainOwner;
  std::unique_ptr<TEncryptedCacheOwner> encryptedOwner;
  std::unique_ptr<TIndexFile> file;
  std::int16_t integerField = 0;
  std::int16_t shortStringField = 0;
  std::int16_t stringField = 0;
  std::int16_t memoField = 0;
};

} // namespace nexora::testing
