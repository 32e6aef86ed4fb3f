#include "cli/table_tool.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>

#include "cli/field_json.h"
#include "cli/table_schema.h"
#include "cli/table_verify.h"
#include "cli/text_codec.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"
#include "support/short_text.h"

namespace nexora::cli {

namespace {

constexpr std::string_view Version = "nexora-table 0.1";

const std::map<std::string, std::string, std::less<>> CommandHelp = {
    {"info", "nexora-table info TABLE [--password P]...\n"
             "Prints the table's header values, fields and indexes as one JSON object.\n"},
    {"create",
     "nexora-table create TABLE --schema FILE [--password P]...\n"
     "Creates the table from a JSON schema: {\"fields\": [{\"name\", \"type\", \"size\", \"decimals\",\n"
     "\"required\", \"charCase\", \"min\", \"max\", \"default\", \"compression\", \"description\"}],\n"
     "\"indexes\": [{\"name\", \"primary\", \"fields\": \"F1;F2\", \"descFields\", \"unique\", \"descending\",\n"
     "\"caseInsensitive\", \"compression\"}], \"textIndexFields\", \"blobBlockSize\", \"indexPageSize\",\n"
     "\"description\", \"locale\", \"userMajorVersion\", \"userMinorVersion\", \"password\"}.\n"
     "An existing table is refused (13060).\n"},
    {"load", "nexora-table load TABLE [--no-transaction] [--password P]...\n"
             "Inserts one record per line of JSON from standard input, all in one transaction unless\n"
             "--no-transaction; prints the number loaded. A bad value names its field and line.\n"},
    {"dump", "nexora-table dump TABLE [--index NAME | --natural] [--password P]...\n"
             "Prints every visible record as one JSON object per line, \"RecordID\" first.\n"},
    {"update", "nexora-table update TABLE --recno N [--password P]...\n"
               "Changes the fields given as one JSON object on standard input in the N-th record\n"
               "of the primary index (from 1).\n"},
    {"delete", "nexora-table delete TABLE --recno N [--password P]...\n"
               "Deletes the N-th record of the primary index (from 1).\n"},
    {"verify", "nexora-table verify TABLE [--password P]...\n"
               "Checks the header, every record, BLOB chain and index; prints each problem found.\n"
               "Exit status 0 when none, 1 otherwise.\n"},
};

std::string ProgramHelp() {
  std::string help = "Usage: nexora-table COMMAND TABLE [OPTIONS]\n"
                     "Creates, loads, dumps, changes and checks tables. TABLE is a data file (dir/orders.dat)\n"
                     "or a table path without extension (dir/orders).\n\nCommands:\n";
  for (const auto &[command, text] : CommandHelp) {
    help += "  " + text.substr(0, text.find('\n')) + "\n";
  }
  help += "\nnexora-table COMMAND --help describes one command; --version prints the version.\n"
          "Exit status: 0 success, 1 engine error, 2 usage error.\n";
  return help;
}

struct TOptions {
  std::string Command;
  std::string Table;
  std::vector<std::string> Passwords;
  std::optional<std::string> Schema;
  std::optional<std::string> Index;
  std::optional<std::int32_t> RecNo;
  bool Natural = false;
  bool NoTransaction = false;
  bool Help = false;
};

TOptions ParseOptions(const std::vector<std::string> &arguments) {
  TOptions options;
  const auto value = [&](std::size_t &i) -> const std::string & {
    if (i + 1 >= arguments.size()) {
      throw EUsageError(arguments[i] + " needs a value");
    }
    return arguments[++i];
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--password") {
      options.Passwords.push_back(value(i));
    } else if (argument == "--schema") {
      options.Schema = value(i);
    } else if (argument == "--index") {
      options.Index = value(i);
    } else if (argument == "--natural") {
      options.Natural = true;
    } else if (argument == "--no-transaction") {
      options.NoTransaction = true;
    } else if (argument == "--recno") {
      const std::string &text = value(i);
      try {
        std::size_t used = 0;
        options.RecNo = std::stoi(text, &used);
        if (used != text.size()) {
          throw std::invalid_argument(text);
        }
      } catch (const std::logic_error &) {
        throw EUsageError("--recno needs a number, not \"" + text + "\"");
      }
    } else if (argument.starts_with("-")) {
      throw EUsageError("unknown option " + argument);
    } else if (options.Command.empty()) {
      options.Command = argument;
    } else if (options.Table.empty()) {
      options.Table = argument;
    } else {
      throw EUsageError("unexpected argument " + argument);
    }
  }
  return options;
}

// One run's engine, session and directory, with the table's cursor.
class TToolTable {
public:
  explicit TToolTable(const TOptions &options) {
    engine_.Start(engine_.Settings().LockFileName);
    TDataSession &session = engine_.CreateSession();
    for (const std::string &password : options.Passwords) {
      session.AddPassword(password);
    }
    const std::filesystem::path path(options.Table);
    const std::string parent = path.parent_path().string();
    directory_ = &OpenDirectory(session, "", parent.empty() ? "." : parent);
    tableName_ = path.filename().string();
  }
  TDataEngine &Engine() { return engine_; }
  TDataDirectory &Directory() { return *directory_; }
  const std::string &TableName() const { return tableName_; }
  TDataCursor &Open(bool checkStructure = true) {
    cursor_ = std::make_unique<TDataCursor>(*directory_);
    cursor_->SetTableName(tableName_);
    cursor_->SetCheckStructure(checkStructure);
    cursor_->Open();
    return *cursor_;
  }

private:
  TDataEngine engine_;
  TDataDirectory *directory_ = nullptr;
  std::string tableName_;
  std::unique_ptr<TDataCursor> cursor_;
};

TJson ParseJson(const std::string &text, const std::string &where) {
  try {
    return TJson::parse(text);
  } catch (const nlohmann::json::parse_error &error) {
    throw EUsageError(where + ": not valid JSON (" + error.what() + ")");
  }
}

// A value the table cannot take: the load or change fails with the field and line named.
class EValueError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Stores every member of a JSON object into the image by field name.
void ApplyObject(TDataCursor &cursor, const TJson &object, std::span<std::uint8_t> image, const std::string &where) {
  if (!object.is_object()) {
    throw EValueError(where + ": expected a JSON object");
  }
  for (const auto &[name, value] : object.items()) {
    if (name == "RecordID") {
      continue;
    }
    const std::optional<std::string> bytes = Utf8ToWindows1252(name);
    const std::int16_t number = bytes ? cursor.Table().DataFile().GetFieldNumber(*bytes) : 0;
    if (number < 1) {
      throw EValueError(where + ": unknown field \"" + name + "\"");
    }
    if (const std::optional<std::string> problem = JsonToField(cursor, number, image, value)) {
      throw EValueError(where + ": field \"" + name + "\": " + *problem);
    }
  }
}

TJson RecordJson(TDataCursor &cursor, std::span<const std::uint8_t> image) {
  TJson record;
  record["RecordID"] = static_cast<std::int32_t>(LoadU32(image.data() + RecordIDOffset));
  for (std::int16_t number = 1; number <= cursor.FieldCount(); ++number) {
    record[Windows1252ToUtf8(cursor.FieldDef(number).Name())] = FieldToJson(cursor, number, image);
  }
  return record;
}

int Create(const TOptions &options) {
  if (!options.Schema) {
    throw EUsageError("create needs --schema FILE");
  }
  std::ifstream file(*options.Schema);
  if (!file) {
    throw EUsageError("cannot read the schema file " + *options.Schema);
  }
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  const TTableDefinition definition = SchemaToDefinition(ParseJson(text, *options.Schema));
  TToolTable table(options);
  if (!definition.Password.empty()) {
    table.Directory().Session().AddPassword(definition.Password);
  }
  if (table.Directory().TableExists(table.TableName())) {
    table.Engine().RaiseError(NEXORA_TABLEEXISTS, TErrorNames{.DatabaseName = table.Directory().GetDisplayName(),
                                                              .TableName = table.TableName()});
  }
  table.Directory().CreateTable(table.TableName(), definition);
  return 0;
}

int Load(const TOptions &options, std::istream &in, std::ostream &out, std::ostream &err) {
  TToolTable table(options);
  TDataCursor &cursor = table.Open();
  const bool transaction = !options.NoTransaction;
  if (transaction) {
    table.Directory().StartTransaction(std::vector<std::string>{cursor.TableName()});
  }
  std::int64_t loaded = 0;
  std::int64_t lineNumber = 0;
  try {
    for (std::string line; std::getline(in, line);) {
      ++lineNumber;
      if (TrimText(line).empty()) {
        continue;
      }
      const std::string where = "line " + std::to_string(lineNumber);
      std::vector<std::uint8_t> image = cursor.InitNewRecord();
      try {
        ApplyObject(cursor, ParseJson(line, where), image, where);
        cursor.InsertRecord(image, false);
      } catch (...) {
        cursor.FreeBlobs(false);
        throw;
      }
      ++loaded;
    }
  } catch (const EValueError &error) {
    if (transaction) {
      table.Directory().Rollback();
    }
    err << error.what() << "\n";
    return 1;
  } catch (...) {
    if (transaction) {
      table.Directory().Rollback();
    }
    throw;
  }
  if (transaction) {
    table.Directory().Commit();
  }
  out << loaded << "\n";
  return 0;
}

int Dump(const TOptions &options, std::ostream &out) {
  TToolTable table(options);
  TDataCursor &cursor = table.Open();
  if (options.Natural) {
    cursor.SetIndexNumber(TDataCursor::NaturalOrder);
  } else if (options.Index) {
    const std::optional<std::string> name = Utf8ToWindows1252(*options.Index);
    cursor.SetIndexName(name.value_or(*options.Index));
  }
  std::vector<std::uint8_t> image(cursor.RecordSize());
  cursor.First();
  while (cursor.Next(image.data()) == NEXORA_NONE) {
    // Natural order walks every physical record; deleted ones are not shown.
    if (image[RecordStatusOffset] != RecordStatusDeleted) {
      out << RecordJson(cursor, image).dump() << "\n";
    }
  }
  return 0;
}

// Stands on the N-th record of the primary index, or fails with a usage error.
void StandOnRecord(TDataCursor &cursor, const TOptions &options) {
  if (!options.RecNo) {
    throw EUsageError(options.Command + " needs --recno N");
  }
  if (!cursor.SetRecNo(*options.RecNo)) {
    throw EUsageError("the table has no record number " + std::to_string(*options.RecNo));
  }
}

int Update(const TOptions &options, std::istream &in, std::ostream &err) {
  TToolTable table(options);
  TDataCursor &cursor = table.Open();
  StandOnRecord(cursor, options);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const TJson changes = ParseJson(text, "standard input");
  std::vector<std::uint8_t> image(cursor.CurrentRecord().begin(), cursor.CurrentRecord().end());
  cursor.RaiseIfError(cursor.GetCurrentRecord(image.data(), true));
  try {
    ApplyObject(cursor, changes, image, "standard input");
  } catch (const EValueError &error) {
    cursor.CancelEdit();
    cursor.CloseRecordBlobs(image);
    err << error.what() << "\n";
    return 1;
  }
  cursor.ModifyRecord(image, true);
  return 0;
}

int Delete(const TOptions &options) {
  TToolTable table(options);
  TDataCursor &cursor = table.Open();
  StandOnRecord(cursor, options);
  cursor.DeleteRecord(std::vector<std::uint8_t>(cursor.CurrentRecord().begin(), cursor.CurrentRecord().end()));
  return 0;
}

int Verify(const TOptions &options, std::ostream &out) {
  TToolTable table(options);
  const std::vector<std::string> problems = VerifyTable(table.Open(false));
  for (const std::string &problem : problems) {
    out << problem << "\n";
  }
  return problems.empty() ? 0 : 1;
}

} // namespace

int RunTableTool(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out, std::ostream &err) {
  try {
    if (arguments.size() == 1 && arguments[0] == "--version") {
      out << Version << "\n";
      return 0;
    }
    const TOptions options = ParseOptions(arguments);
    if (options.Command.empty() || (options.Help && options.Command.empty())) {
      (options.Help ? out : err) << ProgramHelp();
      return options.Help ? 0 : 2;
    }
    const auto help = CommandHelp.find(options.Command);
    if (help == CommandHelp.end()) {
      throw EUsageError("unknown command " + options.Command);
    }
    if (options.Help) {
      out << help->second;
      return 0;
    }
    if (options.Table.empty()) {
      throw EUsageError(options.Command + " needs a TABLE");
    }
    if (options.Command == "info") {
      TToolTable table(options);
      out << TableInfo(table.Open()).dump(2) << "\n";
      return 0;
    }
    if (options.Command == "create") {
      return Create(options);
    }
    if (options.Command == "load") {
      return Load(options, in, out, err);
    }
    if (options.Command == "dump") {
      return Dump(options, out);
    }
    if (options.Command == "update") {
      return Update(options, in, err);
    }
    if (options.Command == "delete") {
      return Delete(options);
    }
    return Verify(options, out);
  } catch (const EUsageError &error) {
    err << "nexora-table: " << error.what() << "\nTry 'nexora-table --help'.\n";
    return 2;
  } catch (const ENEXORAEngineError &error) {
    err << error.what() << "\n";
    return 1;
  } catch (const std::exception &error) {
    // Anything else (a file the system refuses, memory) ends the run as an error too.
    err << "nexora-table: " << error.what() << "\n";
    return 1;
  }
}

} // namespace nexora::cli
