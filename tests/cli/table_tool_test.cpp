#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/table_tool.h"
#include "storage/blob_file_format.h"
#include "storage/data_file_header.h"
#include "storage/field_def.h"
#include "storage/file_test_support.h"
#include "storage/index_file_format.h"

namespace nexora {
namespace {

using nlohmann::ordered_json;
using testing::TTempDir;

// One run of the tool: its exit status and what it wrote.
struct TRun {
  int Status = 0;
  std::string Out;
  std::string Err;
};

TRun Tool(const std::vector<std::string> &arguments, const std::string &input = {}) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::RunTableTool(arguments, in, out, err);
  return {status, out.str(), err.str()};
}

std::vector<ordered_json> Lines(const std::string &text) {
  std::vector<ordered_json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) {
      lines.push_back(ordered_json::parse(line));
    }
  }
  return lines;
}

void Patch(const std::string &path, std::int64_t offset, std::int32_t value) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  std::uint8_t bytes[4];
  StoreU32(bytes, static_cast<std::uint32_t>(value));
  file.write(reinterpret_cast<const char *>(bytes), 4);
}

class TableTool : public ::testing::Test {
protected:
  std::string Table(const std::string &name = "t") const { return dir_.File(name); }
  std::string WriteFile(const std::string &name, const std::string &text) const {
    std::ofstream(dir_.File(name)) << text;
    return dir_.File(name);
  }
  // Creates table "t" from a schema.
  void Create(const ordered_json &schema, const std::vector<std::string> &extra = {}) {
    std::vector<std::string> arguments = {"create", Table(), "--schema", WriteFile("schema.json", schema.dump())};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const TRun run = Tool(arguments);
    ASSERT_EQ(run.Status, 0) << run.Err;
  }

  TTempDir dir_;
};

TEST_F(TableTool, TheExampleRoundTrips) {
  const std::string examples = NEXORA_EXAMPLES_DIR;
  ASSERT_EQ(Tool({"create", Table("orders"), "--schema", examples + "/orders.schema.json"}).Status, 0);
  std::ifstream recordsFile(examples + "/orders.jsonl");
  const std::string records((std::istreambuf_iterator<char>(recordsFile)), {});
  const TRun load = Tool({"load", Table("orders")}, records);
  ASSERT_EQ(load.Status, 0) << load.Err;
  EXPECT_EQ(load.Out, "3\n");
  const TRun dump = Tool({"dump", Table("orders") + ".dat"});
  ASSERT_EQ(dump.Status, 0) << dump.Err;
  const std::vector<ordered_json> loaded = Lines(records);
  std::vector<ordered_json> dumped = Lines(dump.Out);
  ASSERT_EQ(dumped.size(), loaded.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    EXPECT_EQ(dumped[i]["RecordID"], static_cast<int>(i + 1));
    dumped[i].erase("RecordID");
    EXPECT_EQ(dumped[i], loaded[i]);
  }
  EXPECT_EQ(Tool({"verify", Table("orders")}).Status, 0);
}

struct TKindCase {
  const char *Name;
  bool Encrypted;
  int Compression;
};

class TableToolKinds : public TableTool, public ::testing::WithParamInterface<TKindCase> {};

TEST_P(TableToolKinds, EveryFieldKindRoundTrips) {
  const TKindCase &c = GetParam();
  ordered_json schema = {{"fields",
                          {{{"name", "Str"}, {"type", "ftString"}, {"size", 10}, {"charCase", "upper"}},
                           {{"name", "Small"}, {"type", "ftSmallint"}},
                           {{"name", "Int"}, {"type", "ftInteger"}},
                           {{"name", "W"}, {"type", "ftWord"}},
                           {{"name", "B"}, {"type", "ftBoolean"}},
                           {{"name", "F"}, {"type", "ftFloat"}},
                           {{"name", "Money"}, {"type", "ftCurrency"}},
                           {{"name", "Dec"}, {"type", "ftBCD"}, {"size", 3}},
                           {{"name", "D"}, {"type", "ftDate"}},
                           {{"name", "T"}, {"type", "ftTime"}},
                           {{"name", "DT"}, {"type", "ftDateTime"}},
                           {{"name", "Bytes"}, {"type", "ftBytes"}, {"size", 4}},
                           {{"name", "VarBytes"}, {"type", "ftVarBytes"}, {"size", 8}},
                           {{"name", "Auto"}, {"type", "ftAutoInc"}},
                           {{"name", "Blob"}, {"type", "ftBlob"}, {"compression", c.Compression}},
                           {{"name", "Memo"}, {"type", "ftMemo"}},
                           {{"name", "Pic"}, {"type", "ftGraphic"}},
                           {{"name", "Fixed"}, {"type", "ftFixedChar"}, {"size", 5}},
                           {{"name", "Wide"}, {"type", "ftWideString"}, {"size", 6}},
                           {{"name", "Large"}, {"type", "ftLargeint"}},
                           {{"name", "Id"}, {"type", "ftGuid"}}}}};
  std::vector<std::string> passwords;
  if (c.Encrypted) {
    schema["password"] = "s3cret";
    passwords = {"--password", "s3cret"};
  }
  Create(schema);
  const ordered_json record = {{"Str", "ÄBC"},
                               {"Small", -32768},
                               {"Int", 2147483647},
                               {"W", 65535},
                               {"B", true},
                               {"F", 1.5},
                               {"Money", -2.25},
                               {"Dec", "-12.345"},
                               {"D", "2026-02-28"},
                               {"T", "23:59:58.999"},
                               {"DT", "1999-12-31T12:00:00.500"},
                               {"Bytes", {{"base64", "AQIDBA=="}}},
                               {"VarBytes", {{"base64", "/w=="}}},
                               {"Auto", 7},
                               {"Blob", {{"base64", std::string(4000, 'A')}}},
                               {"Memo", "naïve café"},
                               {"Pic", nullptr},
                               {"Fixed", "ab  "},
                               {"Wide", "Ωμέγα"},
                               {"Large", -9007199254740993},
                               {"Id", "{01234567-89AB-CDEF-0123-456789ABCDEF}"}};
  std::vector<std::string> load = {"load", Table()};
  load.insert(load.end(), passwords.begin(), passwords.end());
  const TRun loaded = Tool(load, record.dump() + "\n");
  ASSERT_EQ(loaded.Status, 0) << loaded.Err;
  std::vector<std::string> dump = {"dump", Table()};
  dump.insert(dump.end(), passwords.begin(), passwords.end());
  const TRun dumped = Tool(dump);
  ASSERT_EQ(dumped.Status, 0) << dumped.Err;
  ordered_json back = Lines(dumped.Out).at(0);
  back.erase("RecordID");
  ordered_json expected = record;
  expected["Fixed"] = "ab  "; // fixed-length text keeps its blanks
  EXPECT_EQ(back, expected);
  if (c.Encrypted) {
    EXPECT_EQ(Tool({"dump", Table()}).Status, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, TableToolKinds,
                         ::testing::Values(TKindCase{"Plain", false, 0}, TKindCase{"Compressed", false, 6},
                                           TKindCase{"Encrypted", true, 6}),
                         [](const auto &info) { return std::string(info.param.Name); });

class TableToolData : public TableTool {
protected:
  void SetUp() override {
    Create(
        {{"fields", {{{"name", "Id"}, {"type", "ftInteger"}}, {{"name", "Name"}, {"type", "ftString"}, {"size", 12}}}},
         {"indexes", {{{"name", "ById"}, {"primary", true}, {"fields", "Id"}}}}});
  }
  std::string Records(int first, int last) {
    std::string text;
    for (int id = first; id <= last; ++id) {
      text += ordered_json{{"Id", id}, {"Name", "n" + std::to_string(id)}}.dump() + "\n";
    }
    return text;
  }
};

TEST_F(TableToolData, AFailedLoadKeepsNothingInATransaction) {
  ASSERT_EQ(Tool({"load", Table()}, Records(1, 2)).Status, 0);
  const std::string before = Tool({"dump", Table()}).Out;
  const std::string bad = Records(10, 11) +
                          R"({"Id": "twelve", "Name": "x"})"
                          "\n" +
                          Records(13, 14);
  const TRun run = Tool({"load", Table()}, bad);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("line 3"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("\"Id\""), std::string::npos) << run.Err;
  EXPECT_EQ(Tool({"dump", Table()}).Out, before);
  // One by one, the lines before the bad one stay.
  EXPECT_EQ(Tool({"load", Table(), "--no-transaction"}, bad).Status, 1);
  EXPECT_EQ(Lines(Tool({"dump", Table()}).Out).size(), 4u);
}

TEST_F(TableToolData, ValuesThatDoNotFitAreRefusedByName) {
  const struct {
    const char *Line;
    const char *Expected;
  } cases[] = {{R"({"Nope": 1})", "unknown field \"Nope\""},
               {R"({"Id": 3000000000})", "\"Id\""},
               {R"({"Name": "far too long a name"})", "\"Name\""},
               {R"({"Name": "snow ☃"})", "Windows-1252"},
               {R"({"Id": 1, "Name": 5})", "\"Name\""},
               {"not json", "line 1"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Line);
    const TRun run = Tool({"load", Table()}, std::string(c.Line) + "\n");
    EXPECT_NE(run.Status, 0);
    EXPECT_NE(run.Err.find(c.Expected), std::string::npos) << run.Err;
  }
  EXPECT_EQ(Tool({"dump", Table()}).Out, "");
}

TEST_F(TableToolData, UpdateAndDeleteByRecordNumber) {
  ASSERT_EQ(Tool({"load", Table()}, Records(1, 3)).Status, 0);
  EXPECT_EQ(Tool({"update", Table(), "--recno", "2"}, R"({"Name": "second"})").Status, 0);
  EXPECT_EQ(Tool({"delete", Table(), "--recno", "1"}).Status, 0);
  const std::vector<ordered_json> rows = Lines(Tool({"dump", Table()}).Out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["Name"], "second");
  EXPECT_EQ(rows[1]["Id"], 3);
  EXPECT_EQ(Tool({"delete", Table(), "--recno", "9"}).Status, 2);
  // Natural order shows the same live records.
  EXPECT_EQ(Lines(Tool({"dump", Table(), "--natural"}).Out).size(), 2u);
}

TEST_F(TableToolData, ATableWithoutItsIndexFileIsDumpedAfterTheRebuild) {
  ASSERT_EQ(Tool({"load", Table()}, Records(1, 3)).Status, 0);
  std::filesystem::remove(Table() + ".idx");
  const TRun run = Tool({"dump", Table()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Lines(run.Out).size(), 3u);
  EXPECT_EQ(Tool({"verify", Table()}).Status, 0);
}

TEST_F(TableToolData, InfoDescribesHeaderFieldsAndIndexes) {
  ASSERT_EQ(Tool({"load", Table()}, Records(1, 2)).Status, 0);
  const TRun run = Tool({"info", Table()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const ordered_json info = ordered_json::parse(run.Out);
  EXPECT_EQ(info["recordCount"], 2);
  EXPECT_EQ(info["fields"][1]["name"], "Name");
  EXPECT_EQ(info["fields"][1]["kind"], "ftString");
  EXPECT_EQ(info["fields"][1]["size"], 12);
  EXPECT_EQ(info["indexes"][0]["fields"], "Id");
  EXPECT_EQ(info["indexes"].back()["number"], 31);
  EXPECT_EQ(info["indexes"].back()["name"], "Sys Text");
}

class TableToolDamage : public TableTool {
protected:
  void SetUp() override {
    Create({{"fields", {{{"name", "Id"}, {"type", "ftInteger"}}, {{"name", "Memo"}, {"type", "ftMemo"}}}},
            {"indexes", {{{"name", "ById"}, {"primary", true}, {"fields", "Id"}}}},
            {"blobBlockSize", 128},
            {"indexPageSize", 1024}});
    std::string records;
    for (int id = 1; id <= 600; ++id) {
      records += ordered_json{{"Id", id}, {"Memo", id == 1 ? std::string(500, 'm') : std::string()}}.dump() + "\n";
    }
    ASSERT_EQ(Tool({"load", Table()}, records).Status, 0);
    ASSERT_EQ(Tool({"verify", Table()}).Status, 0);
  }
  TRun Verify() { return Tool({"verify", Table()}); }
};

TEST_F(TableToolDamage, AWrongRecordCount) {
  Patch(Table() + ".dat", DataHeader::RecordCount, 605);
  const TRun run = Verify();
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Record count"), std::string::npos) << run.Out;
}

TEST_F(TableToolDamage, ABlobChainLoop) {
  // The memo's first block names itself as the next one.
  Patch(Table() + ".blb", BlobHeaderSize + BlockNextOffset, 1);
  const TRun run = Verify();
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Memo"), std::string::npos) << run.Out;
}

TEST_F(TableToolDamage, ABrokenPageChain) {
  // The first leaf that links to a next one stops linking.
  const std::string path = Table() + ".idx";
  const testing::TBytes bytes = testing::ReadBytes(path);
  bool patched = false;
  for (std::int64_t at = IndexFirstPageOffset; at + 1024 <= static_cast<std::int64_t>(bytes.size()) && !patched;
       at += 1024) {
    const auto kind = bytes[static_cast<std::size_t>(at + PageKindOffset)];
    if (kind == 2 && LoadU32(bytes.data() + at + PageNextOffset) != 0) {
      Patch(path, at + PageNextOffset, 0);
      patched = true;
    }
  }
  ASSERT_TRUE(patched);
  const TRun run = Verify();
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Index Primary"), std::string::npos) << run.Out;
}

TEST_F(TableToolDamage, DamagedDefinitionsGiveTheVerificationText) {
  // Field 1's stored record offset no longer follows the layout.
  std::fstream file(Table() + ".dat", std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(512 + TFieldDef::RecordOffsetOffset);
  file.put(static_cast<char>(99));
  file.close();
  EXPECT_EQ(Tool({"dump", Table()}).Status, 1);
  const TRun run = Verify();
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Invalid field offset for field Id"), std::string::npos) << run.Out;
}

TEST_F(TableTool, HelpVersionAndBadUsage) {
  const struct {
    std::vector<std::string> Arguments;
    int Status;
    const char *Text;
  } cases[] = {{{"--help"}, 0, "Usage: nexora-table"},
               {{"--version"}, 0, "nexora-table"},
               {{"dump", "--help"}, 0, "--natural"},
               {{}, 2, "Usage"},
               {{"frobnicate", "x"}, 2, "unknown command"},
               {{"dump"}, 2, "needs a TABLE"},
               {{"dump", "x", "--bogus"}, 2, "unknown option"},
               {{"update", "x", "--recno", "two"}, 2, "--recno"},
               {{"create", "x"}, 2, "--schema"},
               {{"dump", "/nonexistent-dir/t"}, 1, "NEXORA Engine Error"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Arguments));
    const TRun run = Tool(c.Arguments);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_NE((run.Out + run.Err).find(c.Text), std::string::npos) << run.Out << run.Err;
  }
}

TEST_F(TableTool, CreatingAnExistingTableIsRefused) {
  Create({{"fields", {{{"name", "Id"}, {"type", "ftInteger"}}}}});
  const TRun run = Tool({"create", Table(), "--schema", dir_.File("schema.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("13060"), std::string::npos) << run.Err;
}

} // namespace
} // namespace nexora
