#include "cli/table_schema.h"

#include <array>

#include "cli/text_codec.h"
#include "support/short_text.h"

namespace nexora::cli {

namespace {

constexpr std::array<std::string_view, 4> CompressionNames = {"icNone", "icDuplicateByte", "icTrailingByte", "icFull"};
constexpr std::array<std::string_view, 3> CharCaseNames = {"none", "lower", "upper"};

std::vector<std::string> SplitNames(const std::string &list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    const std::string name = TrimText(std::string_view(list).substr(start, end - start));
    if (!name.empty()) {
      names.push_back(name);
    }
    start = end + 1;
  }
  return names;
}

template <typename T> T Member(const TJson &object, const char *name, T fallback) {
  if (!object.contains(name) || object[name].is_null()) {
    return fallback;
  }
  try {
    return object[name].get<T>();
  } catch (const nlohmann::json::exception &) {
    throw EUsageError(std::string("schema member \"") + name + "\" has the wrong type");
  }
}

std::int16_t FieldNumberByName(const TTableDefinition &definition, const std::string &name) {
  for (const TFieldDef &def : definition.Fields) {
    if (SameText(def.Name(), name)) {
      return static_cast<std::int16_t>(def.Number());
    }
  }
  throw EUsageError("schema names an unknown field \"" + name + "\"");
}

std::uint8_t NameIndex(std::string_view name, std::span<const std::string_view> names, const char *what) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) {
      return static_cast<std::uint8_t>(i);
    }
  }
  throw EUsageError(std::string("unknown ") + what + " \"" + std::string(name) + "\"");
}

TIndexDef IndexOf(const TTableDefinition &definition, const TJson &index) {
  TIndexDef def;
  def.SetName(Member<std::string>(index, "name", ""));
  const std::vector<std::string> fields = SplitNames(Member<std::string>(index, "fields", ""));
  const std::vector<std::string> descending = SplitNames(Member<std::string>(index, "descFields", ""));
  if (fields.empty() || fields.size() > 128) {
    throw EUsageError("an index needs 1 to 128 fields");
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    def.SetFieldNumber(i, FieldNumberByName(definition, fields[i]));
    def.SetFieldDescending(i, std::any_of(descending.begin(), descending.end(),
                                          [&](const std::string &name) { return SameText(name, fields[i]); }));
  }
  def.SetFieldCount(static_cast<std::uint8_t>(fields.size()));
  def.SetUnique(Member<bool>(index, "unique", false) || Member<bool>(index, "primary", false));
  def.SetDescending(Member<bool>(index, "descending", false));
  def.SetCaseInsensitive(Member<bool>(index, "caseInsensitive", false));
  def.SetCompression(NameIndex(Member<std::string>(index, "compression", "icNone"), CompressionNames, "compression"));
  return def;
}

} // namespace

TTableDefinition SchemaToDefinition(const TJson &schema) {
  if (!schema.is_object() || !schema.contains("fields") || !schema["fields"].is_array()) {
    throw EUsageError("a schema is a JSON object with a \"fields\" array");
  }
  TTableDefinition definition;
  for (const TJson &field : schema["fields"]) {
    if (!field.is_object()) {
      throw EUsageError("each field of a schema is a JSON object");
    }
    const std::string type = Member<std::string>(field, "type", "");
    const std::optional<TFieldKind> kind = FieldKindOf(type);
    if (!kind) {
      throw EUsageError("unknown field type \"" + type + "\"");
    }
    TFieldDef def;
    def.SetNumber(static_cast<std::uint16_t>(definition.Fields.size() + 1));
    def.SetName(Member<std::string>(field, "name", ""));
    def.SetType(kind->Type);
    def.SetSubtype(kind->Subtype);
    const std::int64_t size = Member<std::int64_t>(field, "size", type == "ftGuid" ? 38 : 0);
    if (size < 0 || size > 65535) {
      throw EUsageError("field size out of range");
    }
    if (kind->Type == ftcBCD) {
      // The size of a BCD kind goes to its decimals.
      def.SetDecimals(static_cast<std::uint8_t>(Member<std::int64_t>(field, "decimals", size)));
    } else {
      def.SetDeclaredSize(static_cast<std::uint16_t>(size));
      def.SetDecimals(static_cast<std::uint8_t>(Member<std::int64_t>(field, "decimals", 0)));
    }
    def.SetRequired(Member<bool>(field, "required", false));
    def.SetCharCase(NameIndex(Member<std::string>(field, "charCase", "none"), CharCaseNames, "character case"));
    def.SetMinimum(Member<std::string>(field, "min", ""));
    def.SetMaximum(Member<std::string>(field, "max", ""));
    def.SetDefault(Member<std::string>(field, "default", ""));
    def.SetCompressionLevel(static_cast<std::uint8_t>(Member<std::int64_t>(field, "compression", 0)));
    def.SetDescription(Member<std::string>(field, "description", ""));
    definition.Fields.push_back(def);
  }
  if (schema.contains("indexes")) {
    for (const TJson &index : schema["indexes"]) {
      TIndexDef def = IndexOf(definition, index);
      if (Member<bool>(index, "primary", false)) {
        if (definition.PrimaryIndex) {
          throw EUsageError("a schema has at most one primary index");
        }
        definition.PrimaryIndex = def;
      } else {
        definition.SecondaryIndexes.push_back(def);
      }
    }
  }
  for (const std::string &name : SplitNames(Member<std::string>(schema, "textIndexFields", ""))) {
    definition.TextIndexFields.push_back(FieldNumberByName(definition, name));
  }
  definition.BlobBlockSize = Member<std::uint32_t>(schema, "blobBlockSize", 512);
  definition.IndexPageSize = Member<std::uint32_t>(schema, "indexPageSize", 4096);
  definition.Description = Member<std::string>(schema, "description", "");
  definition.LocaleId = Member<std::uint32_t>(schema, "locale", 0);
  definition.UserMajorVersion = Member<std::uint16_t>(schema, "userMajorVersion", 0);
  definition.UserMinorVersion = Member<std::uint16_t>(schema, "userMinorVersion", 0);
  definition.Password = Member<std::string>(schema, "password", "");
  definition.Encrypted = !definition.Password.empty();
  return definition;
}

TJson TableInfo(TDataCursor &cursor) {
  const TDataFile &data = cursor.Table().DataFile();
  const TIndexFile &index = cursor.Table().IndexFile();
  TJson info;
  info["recordCount"] = data.GetRecordCount();
  info["recordSize"] = data.GetRecordSize();
  info["blobBlockSize"] = data.GetBlobBlockSize();
  info["indexPageSize"] = data.GetIndexPageSize();
  info["encrypted"] = data.IsEncrypted();
  info["locale"] = data.GetLocaleId();
  info["description"] = Windows1252ToUtf8(data.GetDescription());
  info["userMajorVersion"] = data.GetUserMajorVersion();
  info["userMinorVersion"] = data.GetUserMinorVersion();
  info["lastRecordID"] = data.GetLastRecordID();
  info["lastAutoIncValue"] = data.GetLastAutoInc();
  TJson fields = TJson::array();
  for (std::int16_t number = 1; number <= cursor.FieldCount(); ++number) {
    const TFieldDef &def = cursor.FieldDef(number);
    fields.push_back({{"number", number},
                      {"name", Windows1252ToUtf8(def.Name())},
                      {"kind", FieldKindName(def)},
                      {"size", def.DeclaredSize()},
                      {"decimals", def.Decimals()},
                      {"required", def.Required()},
                      {"charCase", std::string(CharCaseNames[std::min<std::size_t>(def.CharCase(), 2)])},
                      {"min", Windows1252ToUtf8(def.Minimum())},
                      {"max", Windows1252ToUtf8(def.Maximum())},
                      {"default", Windows1252ToUtf8(def.Default())},
                      {"compression", def.CompressionLevel()},
                      {"description", Windows1252ToUtf8(def.Description())}});
  }
  info["fields"] = fields;
  TJson indexes = TJson::array();
  const auto fieldName = [&](std::int16_t number) {
    return number == -1   ? std::string("RecordID")
           : number == -2 ? std::string("RecordHash")
                          : Windows1252ToUtf8(cursor.FieldDef(number).Name());
  };
  for (std::int32_t slot = 0; slot <= TextIndexSlot; ++slot) {
    if (slot > index.SecondaryCount() && slot != TextIndexSlot) {
      continue;
    }
    const TIndexDef &def = index.IndexDef(slot);
    std::string names;
    std::string descending;
    for (std::size_t i = 0; i < def.FieldCount(); ++i) {
      const std::string name = fieldName(def.FieldNumber(i));
      names += (names.empty() ? "" : ";") + name;
      if (def.FieldDescending(i)) {
        descending += (descending.empty() ? "" : ";") + name;
      }
    }
    indexes.push_back({{"number", slot},
                       {"name", Windows1252ToUtf8(def.Name())},
                       {"fields", names},
                       {"descFields", descending},
                       {"unique", slot == 0 || def.Unique()},
                       {"descending", def.Descending()},
                       {"caseInsensitive", def.CaseInsensitive()},
                       {"compression", std::string(CompressionNames[std::min<std::size_t>(def.Compression(), 3)])},
                       {"keyLength", def.KeyLength()}});
  }
  info["indexes"] = indexes;
  return info;
}

} // namespace nexora::cli
