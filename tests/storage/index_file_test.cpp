#include <gtest/gtest.h>

#include <functional>

#include "engine/engine_error.h"
#include "index_test_support.h"

namespace nexora {
namespace {

using testing::MakeIndexDef;
using testing::RaisedCode;
using testing::ReadBytes;
using testing::TBytes;

class IndexFile : public testing::TIndexFileTest {
protected:
  // A table with its default primary index and an empty text index, as the table sets it up.
  void CreateTable(bool encrypted = false) {
    Create(encrypted);
    file->SetIndexDef(PrimaryIndexSlot, TIndexFile::DefaultPrimaryIndexDef());
    file->SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef({}));
  }
  std::string VerifyDetail() {
    try {
      file->VerifyStructure();
    } catch (const ENEXORAEngineError &error) {
      EXPECT_EQ(error.ErrorCode(), NEXORA_HEADERCORRUPT);
      return error.Detail();
    }
    return "";
  }
};

TEST_F(IndexFile, HeaderAndDefinitionsSurviveAReopenPlainAndEncrypted) {
  for (const bool encrypted : {false, true}) {
    CreateTable(encrypted);
    file->AddPrimaryIndex(MakeIndexDef("", {integerField}, true));
    file->AddIndex(MakeIndexDef("ByName", {stringField, integerField}, false, icFull));
    file->SetRoot(1, 0);
    TPage *page = file->AllocatePage(1);
    page->SetKind(TPageKind::RootLeaf);
    file->SetRoot(1, page->Number());
    file->ReleaseBuffer(page);
    const TIndexDef primary = file->IndexDef(0);
    const TIndexDef secondary = file->IndexDef(1);
    Reopen(encrypted);
    EXPECT_EQ(file->IndexDef(0), primary);
    EXPECT_EQ(file->IndexDef(1), secondary);
    EXPECT_EQ(file->IndexDef(1).KeyLength(), (4 + 1) + (21 + 1) + 4);
    EXPECT_EQ(file->IndexDef(TextIndexSlot).Name(), "Sys Text");
    EXPECT_EQ(file->SecondaryCount(), 1);
    EXPECT_EQ(file->Root(1), 1);
    EXPECT_EQ(file->NextPageNumber(), 2);
    EXPECT_NO_THROW(file->VerifyStructure());
    const TBytes bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), static_cast<std::size_t>(IndexFirstPageOffset));
    // Plain files show the version and the name in clear; encrypted ones do not.
    const bool clearVersion = bytes[IndexVersionOffset] == CurrentTableVersion && bytes[29] == 2;
    EXPECT_EQ(clearVersion, !encrypted);
    file->CloseFile();
  }
}

TEST_F(IndexFile, EncryptedFileDoesNotOpenWithoutTheKey) {
  CreateTable(true);
  Save();
  file->CloseFile();
  file = std::make_unique<TIndexFile>(engine, path, false, plainOwner, context);
  EXPECT_NE(RaisedCode([&] { file->OpenFile(); }), NEXORA_NONE);
  EXPECT_FALSE(file->IsOpen());
}

TEST_F(IndexFile, DefaultPrimaryIndexIsOnRecordID) {
  const TIndexDef def = TIndexFile::DefaultPrimaryIndexDef();
  EXPECT_EQ(def.Name(), "");
  EXPECT_TRUE(def.Unique());
  EXPECT_EQ(def.FieldCount(), 1);
  EXPECT_EQ(def.FieldNumber(0), RecordIDFieldNumber);
  EXPECT_EQ(def.KeyLength(), 5);
  EXPECT_EQ(def.Compression(), icNone);
  CreateTable();
  EXPECT_FALSE(file->HasUserPrimaryIndex());
  EXPECT_EQ(file->KeyLayout(0).KeyLength, 5);
}

TEST_F(IndexFile, PrimaryIndexIsDefinedOnceAndDeletedBackToTheDefault) {
  CreateTable();
  file->AddPrimaryIndex(MakeIndexDef("ignored", {integerField}, false));
  EXPECT_EQ(file->IndexDef(0).Name(), "");
  EXPECT_TRUE(file->IndexDef(0).Unique());
  EXPECT_EQ(file->IndexDef(0).KeyLength(), 5);
  EXPECT_EQ(RaisedCode([&] { file->AddPrimaryIndex(MakeIndexDef("", {stringField}, true)); }),
            NEXORA_PRIMARYKEYREDEFINE);
  file->DeleteIndex(0);
  EXPECT_EQ(file->IndexDef(0), TIndexFile::DefaultPrimaryIndexDef());
}

struct TRefusedCase {
  const char *Name;
  std::string IndexName;
  std::vector<std::int16_t> Fields;
  bool Unique;
  TErrorCode Code;
};

class RefusedIndex : public IndexFile, public ::testing::WithParamInterface<TRefusedCase> {};

TEST_P(RefusedIndex, IsRefusedWithItsCode) {
  const TRefusedCase &c = GetParam();
  context.pageSize = 1024;
  const std::int16_t wide = context.Add(ftcString, 400);
  CreateTable();
  file->AddIndex(MakeIndexDef("Existing", {integerField}, true));
  TIndexDef def;
  def.SetName(c.IndexName);
  def.SetUnique(c.Unique);
  for (std::size_t i = 0; i < c.Fields.size(); ++i) {
    def.SetFieldNumber(i, c.Fields[i] == 99 ? wide : c.Fields[i]);
  }
  def.SetFieldCount(static_cast<std::uint8_t>(c.Fields.size()));
  EXPECT_EQ(RaisedCode([&] { file->AddIndex(def); }), c.Code);
  EXPECT_EQ(file->SecondaryCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Rules, RefusedIndex,
                         ::testing::Values(TRefusedCase{"EmptyName", "", {1}, true, NEXORA_INDEXNAMEREQUIRED},
                                           TRefusedCase{"DigitFirst", "1st", {1}, true, NEXORA_INVALIDINDEXNAME},
                                           TRefusedCase{"NameInUse", "EXISTING ", {1}, true, NEXORA_INDEXEXISTS},
                                           TRefusedCase{"BlobField", "Memo", {4}, true, NEXORA_SEARCHCOLREQD},
                                           TRefusedCase{"UnknownField", "Nothing", {42}, true, NEXORA_INVALIDFIELDNAME},
                                           // 1 + 401 bytes exceed (1024 - 13) / 3 = 337.
                                           TRefusedCase{"KeyTooLong", "Wide", {99}, true, NEXORA_INVALIDKEY},
                                           TRefusedCase{"NoFields", "Empty", {}, true, NEXORA_INVALIDKEY},
                                           TRefusedCase{"TooManyFields", "Many", std::vector<std::int16_t>(129, 1),
                                                        true, NEXORA_INDEXLIMIT}),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST_F(IndexFile, ThirtyFirstSecondaryIndexIsRefused) {
  CreateTable();
  for (int i = 0; i < MaxSecondaryIndexes; ++i) {
    file->AddIndex(MakeIndexDef("I" + std::to_string(i), {integerField}, true));
  }
  EXPECT_EQ(RaisedCode([&] { file->AddIndex(MakeIndexDef("Extra", {integerField}, true)); }), NEXORA_INDEXLIMIT);
  EXPECT_TRUE(file->FindIndexName("i29"));
  EXPECT_FALSE(file->FindIndexName("Extra"));
}

TEST_F(IndexFile, DeletingTheMiddleIndexMovesTheLastDownWithItsRoot) {
  CreateTable();
  for (const char *name : {"One", "Two", "Three"}) {
    file->AddIndex(MakeIndexDef(name, {integerField}, true));
  }
  file->SetRoot(3, 7);
  file->SetDataRoot(3, 8);
  file->DeleteIndex(2);
  EXPECT_EQ(file->SecondaryCount(), 2);
  EXPECT_EQ(file->IndexDef(2).Name(), "Three");
  EXPECT_EQ(file->Root(2), 7);
  EXPECT_EQ(file->DataRoot(2), 8);
  EXPECT_EQ(file->Root(3), 0);
  EXPECT_EQ(file->IndexDef(3), TIndexDef());
  EXPECT_TRUE(file->IndexDefsChanged());
}

TEST_F(IndexFile, RenameCopiesNameAndFields) {
  CreateTable();
  file->AddIndex(MakeIndexDef("Old", {integerField}, false, icFull));
  TIndexDef renamed = MakeIndexDef("New", {stringField}, true);
  renamed.SetFieldDescending(0, true);
  file->RenameIndex(1, renamed);
  EXPECT_EQ(file->IndexDef(1).Name(), "New");
  EXPECT_EQ(file->IndexDef(1).FieldNumber(0), stringField);
  EXPECT_TRUE(file->IndexDef(1).FieldDescending(0));
  EXPECT_FALSE(file->IndexDef(1).Unique());
  EXPECT_EQ(file->IndexDef(1).Compression(), icFull);
}

TEST_F(IndexFile, FreedPagesAreReusedLastInFirstOut) {
  CreateTable();
  file->AddIndex(MakeIndexDef("ByNumber", {integerField}, true));
  std::vector<TPage *> pages;
  for (int i = 0; i < 3; ++i) {
    pages.push_back(file->AllocatePage(1));
  }
  file->ReleasePage(*pages[0]);
  file->ReleasePage(*pages[2]);
  EXPECT_EQ(file->FreePageHead(), 3);
  EXPECT_EQ(pages[2]->Next(), 1);
  for (TPage *page : pages) {
    file->ReleaseBuffer(page);
  }
  Reopen();
  TPage *first = file->AllocatePage(1);
  EXPECT_EQ(first->Number(), 3);
  EXPECT_EQ(first->Next(), 0);
  TPage *second = file->AllocatePage(1);
  EXPECT_EQ(second->Number(), 1);
  TPage *third = file->AllocatePage(1);
  EXPECT_EQ(third->Number(), 4);
  EXPECT_EQ(file->FreePageHead(), 0);
  for (TPage *page : {first, second, third}) {
    file->ReleaseBuffer(page);
  }
}

TEST_F(IndexFile, EmptyFileKeepsTheDefinitions) {
  CreateTable();
  file->AddIndex(MakeIndexDef("ByNumber", {integerField}, true));
  TPage *page = file->AllocatePage(1);
  file->SetRoot(1, page->Number());
  file->ReleaseBuffer(page);
  Save();
  file->EmptyFile();
  EXPECT_EQ(file->NextPageNumber(), 1);
  EXPECT_EQ(file->Root(1), 0);
  EXPECT_EQ(file->GetChangeCounter(), 0U);
  EXPECT_EQ(file->IndexDef(1).Name(), "ByNumber");
  EXPECT_EQ(ReadBytes(path).size(), static_cast<std::size_t>(IndexFirstPageOffset));
}

TEST_F(IndexFile, OpenRefusesMoreThanThirtySecondaryIndexesAndForeignVersions) {
  CreateTable();
  Save();
  file->CloseFile();
  Patch(IndexSecondaryCountOffset, {31});
  EXPECT_EQ(RaisedCode([&] { file->OpenFile(); }), NEXORA_HEADERCORRUPT);
  Patch(IndexSecondaryCountOffset, {0});
  Patch(IndexVersionOffset, {5});
  EXPECT_EQ(RaisedCode([&] { file->OpenFile(); }), NEXORA_OLDVERSION);
  Patch(IndexVersionOffset, {6});
  Patch(IndexSignatureOffset, {0xEE});
  EXPECT_EQ(RaisedCode([&] { file->OpenFile(); }), NEXORA_BADSIGNATURE);
}

struct TStructureCase {
  const char *Name;
  std::function<void(TIndexFile &)> Damage;
  std::string Detail;
};

class StructureCheck : public IndexFile, public ::testing::WithParamInterface<TStructureCase> {};

TEST_P(StructureCheck, ReportsTheBrokenRule) {
  CreateTable();
  file->AddIndex(MakeIndexDef("ByNumber", {integerField}, true));
  file->AddIndex(MakeIndexDef("ByName", {stringField}, true));
  EXPECT_EQ(VerifyDetail(), "");
  GetParam().Damage(*file);
  EXPECT_EQ(VerifyDetail(), GetParam().Detail);
}

TIndexDef WithChange(const TIndexDef &def, const std::function<void(TIndexDef &)> &change) {
  TIndexDef changed = def;
  change(changed);
  return changed;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StructureCheck,
    ::testing::Values(
        TStructureCase{"FreeHead", [](TIndexFile &f) { f.SetFreePageHead(1); }, "Invalid free index page pointer"},
        TStructureCase{
            "PrimaryName",
            [](TIndexFile &f) { f.SetIndexDef(0, WithChange(f.IndexDef(0), [](TIndexDef &d) { d.SetName("P"); })); },
            "Invalid primary index definition"},
        TStructureCase{
            "BadName",
            [](TIndexFile &f) { f.SetIndexDef(1, WithChange(f.IndexDef(1), [](TIndexDef &d) { d.SetName("9x"); })); },
            "Invalid index name for index 9x"},
        TStructureCase{"LongName",
                       [](TIndexFile &f) {
                         f.SetIndexDef(1, WithChange(f.IndexDef(1), [](TIndexDef &d) {
                                         d.SetName(std::string(60, 'L'));
                                         d.Bytes()[0] = 61;
                                       }));
                       },
                       "Invalid index name (too long) for index " + std::string(60, 'L')},
        TStructureCase{"Duplicate",
                       [](TIndexFile &f) {
                         f.SetIndexDef(2, WithChange(f.IndexDef(2), [](TIndexDef &d) { d.SetName("BYNUMBER "); }));
                       },
                       "Duplicate index name for index ByNumber"},
        TStructureCase{"Gap",
                       [](TIndexFile &f) {
                         f.SetIndexDef(1, WithChange(f.IndexDef(1), [](TIndexDef &d) { d.SetFieldCount(2); }));
                       },
                       "Invalid field number 0 in index ByNumber"},
        TStructureCase{"BlobKey",
                       [](TIndexFile &f) {
                         f.SetIndexDef(2, WithChange(f.IndexDef(2), [](TIndexDef &d) { d.SetFieldNumber(0, 4); }));
                       },
                       "Invalid field number 4 in index ByName"},
        TStructureCase{"NoFields",
                       [](TIndexFile &f) {
                         f.SetIndexDef(1, WithChange(f.IndexDef(1), [](TIndexDef &d) { d.SetFieldCount(0); }));
                       },
                       "Invalid key field count of 0 for index ByNumber"},
        TStructureCase{"Root", [](TIndexFile &f) { f.SetRoot(2, 5); }, "Invalid root page pointer for index ByName"},
        TStructureCase{"DataRoot", [](TIndexFile &f) { f.SetDataRoot(TextIndexSlot, 5); },
                       "Invalid data root page pointer for index Sys Text"},
        TStructureCase{"TextIndexField",
                       [](TIndexFile &f) { f.SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef({1})); },
                       "Invalid field number 1 in index Sys Text"},
        TStructureCase{"TextIndexKey",
                       [](TIndexFile &f) {
                         f.SetIndexDef(TextIndexSlot, WithChange(TIndexFile::TextIndexDef({3, 4}),
                                                                 [](TIndexDef &d) { d.SetKeyLength(60); }));
                       },
                       "Invalid index definition for index Sys Text"}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST_F(IndexFile, KeyTooLongForTheStructureCheck) {
  context.pageSize = 1024;
  const std::int16_t wide = context.Add(ftcString, 400);
  CreateTable();
  file->AddIndex(MakeIndexDef("ByNumber", {integerField}, true));
  file->SetIndexDef(1, WithChange(file->IndexDef(1), [&](TIndexDef &d) { d.SetFieldNumber(0, wide); }));
  EXPECT_EQ(VerifyDetail(), "Invalid key size of 402 for index ByNumber");
}

TEST_F(IndexFile, TextParametersRoundTripOverAChainOfRawPages) {
  context.pageSize = 1024;
  CreateTable();
  EXPECT_EQ(file->ReadTextIndexParams(), TTextIndexParams::Defaults());
  TTextIndexParams params = TTextIndexParams::Defaults();
  for (int i = 0; i < 40; ++i) {
    params.StopWords.push_back(std::string(30, static_cast<char>('A' + i % 26)));
  }
  file->WriteTextIndexParams(params);
  EXPECT_GT(file->NextPageNumber(), 2);
  Reopen();
  EXPECT_EQ(file->ReadTextIndexParams(), params);
  // A chain that ends early is corrupt.
  TPage *first = file->PinRawPage(file->DataRoot(TextIndexSlot));
  first->SetNext(0);
  file->ReleaseBuffer(first);
  EXPECT_EQ(RaisedCode([&] { file->ReadTextIndexParams(); }), NEXORA_INDEXCORRUPT);
  // So is one that loops back to itself.
  first = file->PinRawPage(file->DataRoot(TextIndexSlot));
  first->SetNext(first->Number());
  file->ReleaseBuffer(first);
  EXPECT_EQ(RaisedCode([&] { file->ReadTextIndexParams(); }), NEXORA_INDEXCORRUPT);
}

} // namespace
} // namespace nexora
