#include "engine/error_catalogue.h"

#include <algorithm>
#include <array>

namespace nexora {
namespace {

using F = TErrorField;

// Fill orders shared by the catalogue lines.
constexpr std::span<const TErrorField> FillNone{};
constexpr std::array<TErrorField, 1> FillTableName{F::TableName};
constexpr std::array<TErrorField, 1> FillDatabaseName{F::DatabaseName};
constexpr std::array<TErrorField, 2> FillIndexName_TableName{F::IndexName, F::TableName};
constexpr std::array<TErrorField, 2> FillFieldName_TableName{F::FieldName, F::TableName};
constexpr std::array<TErrorField, 3> FillFieldName_IndexName_TableName{F::FieldName, F::IndexName, F::TableName};
constexpr std::array<TErrorField, 4> FillTableName_Detail_Line_Column{F::TableName, F::Detail, F::Line, F::Column};
constexpr std::array<TErrorField, 2> FillOSCode_TableName{F::OSCode, F::TableName};
constexpr std::array<TErrorField, 1> FillServerAddress{F::ServerAddress};
constexpr std::array<TErrorField, 2> FillDetail_ServerAddress{F::Detail, F::ServerAddress};
constexpr std::array<TErrorField, 3> FillUserName_DatabaseName_ServerAddress{F::UserName, F::DatabaseName,
                                                                             F::ServerAddress};
constexpr std::array<TErrorField, 2> FillUserName_ServerAddress{F::UserName, F::ServerAddress};
constexpr std::array<TErrorField, 2> FillDatabaseName_ServerAddress{F::DatabaseName, F::ServerAddress};
constexpr std::array<TErrorField, 2> FillProcedureName_ServerAddress{F::ProcedureName, F::ServerAddress};
constexpr std::array<TErrorField, 2> FillEventName_ServerAddress{F::EventName, F::ServerAddress};
constexpr std::array<TErrorField, 2> FillTableName_Detail{F::TableName, F::Detail};
constexpr std::array<TErrorField, 3> FillDetail_Line_Column{F::Detail, F::Line, F::Column};
constexpr std::array<TErrorField, 1> FillDetail{F::Detail};

// The catalogue, sorted by code. Messages are the system's own texts, used exactly.
constexpr TErrorCatalogueEntry Catalogue[] = {
    {0, "NEXORA_NONE", nullptr, FillNone},
    {8705, "NEXORA_BOF", "Beginning of table '%s' unexpectedly encountered", FillTableName},
    {8706, "NEXORA_EOF", "End of table '%s' unexpectedly encountered", FillTableName},
    {8708, "NEXORA_KEYORRECDELETED",
     "Record has been changed or deleted by another user, session, or table cursor in the table '%s'", FillTableName},
    {8709, "NEXORA_NOCURRREC", "No current record in the table '%s'", FillTableName},
    {8710, "NEXORA_RECNOTFOUND", "Record not found in the table '%s'", FillTableName},
    {8711, "NEXORA_ENDOFBLOB", "End of BLOB field in the table '%s' reached prematurely", FillTableName},
    {8961, "NEXORA_HEADERCORRUPT", "Header information corrupt in the table '%s'", FillTableName},
    {8962, "NEXORA_FILECORRUPT", "Data record buffers corrupt in the table '%s'", FillTableName},
    {8963, "NEXORA_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'", FillTableName},
    {8965, "NEXORA_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'", FillTableName},
    {9217, "NEXORA_READERR", "Error reading from the table or backup file '%s'", FillTableName},
    {9218, "NEXORA_WRITEERR", "Error writing to the table or backup file '%s'", FillTableName},
    {9477, "NEXORA_RECTOOBIG", "Maximum record size exceeded in the table '%s'", FillTableName},
    {9479, "NEXORA_TABLEFULL", "The table '%s' is full and cannot contain any more data", FillTableName},
    {9480, "NEXORA_DATABASEFULL", "The database '%s' is full and cannot contain any more tables", FillDatabaseName},
    {9482, "NEXORA_INTERNALLIMIT", "Too many filters defined for the table '%s'", FillTableName},
    {9487, "NEXORA_INDEXLIMIT",
     "Maximum or minimum limits on the index page size, the number of indexes, or the number of fields in an index "
     "exceeded in the table '%s'",
     FillTableName},
    {9492, "NEXORA_FLDLIMIT", "Maximum or minimum limits on number of fields exceeded in the table '%s'",
     FillTableName},
    {9494, "NEXORA_OPENBLOBLIMIT", "Too many BLOBs opened in the table '%s'", FillTableName},
    {9498, "NEXORA_BLOBLIMIT", "Too many BLOB fields or invalid BLOB block size specified for the table '%s'",
     FillTableName},
    {9729, "NEXORA_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'", FillIndexName_TableName},
    {9730, "NEXORA_MINVALERR", "The value for the field '%s' in the table '%s' is below the minimum allowable value",
     FillFieldName_TableName},
    {9731, "NEXORA_MAXVALERR", "The value for the field '%s' in the table '%s' is above the maximum allowable value",
     FillFieldName_TableName},
    {9732, "NEXORA_REQDERR", "A value must be provided for the field '%s' in the table '%s'", FillFieldName_TableName},
    {9985, "NEXORA_OUTOFRANGE", "Invalid field number or name '%s' specified for the table '%s'",
     FillFieldName_TableName},
    {9993, "NEXORA_PRIMARYKEYREDEFINE",
     "A primary index is already defined for the table '%s' and cannot be added again", FillTableName},
    {9998, "NEXORA_INVALIDBLOBOFFSET", "Invalid BLOB offset into the table '%s' specified", FillTableName},
    {10000, "NEXORA_INVALIDFLDTYPE", "Invalid field definition specified for the field '%s' in the table '%s'",
     FillFieldName_TableName},
    {10006, "NEXORA_INVALIDVCHKSTRUCT",
     "Invalid default expression or min/max constraint specified for the field '%s' in the table '%s'",
     FillFieldName_TableName},
    {10010, "NEXORA_INDEXNAMEREQUIRED", "The secondary index name is missing or not specified for the table '%s'",
     FillTableName},
    {10015, "NEXORA_INVALIDPASSWORD", "Password provided for the table '%s' is invalid", FillTableName},
    {10022, "NEXORA_INVALIDINDEXNAME", "Invalid secondary index name '%s' specified for the table '%s'",
     FillIndexName_TableName},
    {10023, "NEXORA_INVALIDIDXDESC", "Invalid field number '%s' specified in the index '%s' for the table '%s'",
     FillFieldName_IndexName_TableName},
    {10026, "NEXORA_INVALIDKEY", "Invalid key size specified in the index '%s' for the table '%s'",
     FillIndexName_TableName},
    {10027, "NEXORA_INDEXEXISTS", "The secondary index '%s' already exists for the table '%s'",
     FillIndexName_TableName},
    {10029, "NEXORA_INVALIDBLOBLEN", "Invalid BLOB length in the table '%s'", FillTableName},
    {10030, "NEXORA_INVALIDBLOBHANDLE", "Invalid BLOB handle for the table '%s' specified", FillTableName},
    {10031, "NEXORA_TABLEOPEN", "The table '%s' is already in use", FillTableName},
    {10038, "NEXORA_INVALIDFIELDNAME", "Invalid or duplicate field name '%s' specified for the table '%s'",
     FillFieldName_TableName},
    {10050, "NEXORA_NOSUCHFILTER", "Invalid filter handle specified for the table '%s'", FillTableName},
    {10051, "NEXORA_INVALIDFILTER", "Filter error for the table '%s' - %s at line %u, column %u",
     FillTableName_Detail_Line_Column},
    {10221, "NEXORA_LOCKREADLOCK", "Cannot read lock the lock file for the database '%s'", FillDatabaseName},
    {10222, "NEXORA_LOCKREADUNLOCK", "Cannot read unlock the lock file for the database '%s'", FillDatabaseName},
    {10223, "NEXORA_LOCKWRITELOCK", "Cannot write lock the lock file for the database '%s'", FillDatabaseName},
    {10224, "NEXORA_LOCKWRITEUNLOCK", "Cannot write unlock the lock file for the database '%s'", FillDatabaseName},
    {10225, "NEXORA_READLOCK", "Cannot read lock the table '%s'", FillTableName},
    {10226, "NEXORA_READUNLOCK", "Cannot read unlock the table '%s'", FillTableName},
    {10227, "NEXORA_WRITELOCK", "Cannot write lock the table '%s'", FillTableName},
    {10228, "NEXORA_WRITEUNLOCK", "Cannot write unlock the table '%s'", FillTableName},
    {10229, "NEXORA_TRANSLOCK", "Transaction cannot lock the database '%s'", FillDatabaseName},
    {10230, "NEXORA_TRANSUNLOCK", "Transaction cannot unlock the database '%s'", FillDatabaseName},
    {10241, "NEXORA_LOCKED", "Cannot lock the table '%s'", FillTableName},
    {10242, "NEXORA_UNLOCKFAILED", "Cannot unlock the table or record in the table '%s'", FillTableName},
    {10253, "NEXORA_NEEDEXCLACCESS", "The table '%s' must be opened exclusively", FillTableName},
    {10258, "NEXORA_RECLOCKFAILED", "Cannot lock record in the table '%s'", FillTableName},
    {10498, "NEXORA_NOTSUFFTABLERIGHTS", "Insufficient rights to the table '%s', a password is required",
     FillTableName},
    {10753, "NEXORA_NOTABLOB", "Invalid BLOB field '%s' specified for the table '%s'", FillFieldName_TableName},
    {11010, "NEXORA_OSENOENT", "Table or backup file '%s' does not exist", FillTableName},
    {11012, "NEXORA_OSEMFILE", "Too many operating system files open while attempting to open the table '%s'",
     FillTableName},
    {11013, "NEXORA_OSEACCES", "Access denied to table or backup file '%s'", FillTableName},
    {11014, "NEXORA_OSEBADF", "Invalid operating system file handle for the table '%s'", FillTableName},
    {11016, "NEXORA_OSENOMEM", "There is insufficient operating system memory available for the current operation",
     FillNone},
    {11023, "NEXORA_OSENODEV", "Access denied to logical operating system device for the table '%s'", FillTableName},
    {11025, "NEXORA_OSENOTSAM", "The table or backup file '%s' has been moved", FillTableName},
    {11047, "NEXORA_OSUNKNOWN", "An unknown operating system error %u occurred with the table or backup file '%s'",
     FillOSCode_TableName},
    {11276, "NEXORA_REMOTECOMMLOST", "The connection to the database server at '%s' has been lost", FillServerAddress},
    {11277, "NEXORA_REMOTEENCRYPTREQ", "The database server at '%s' requires an encrypted connection",
     FillServerAddress},
    {11279, "NEXORA_REMOTEUNKNOWN",
     "An unknown error ('%s') occurred with the connection to the database server at '%s', please check the server log",
     FillDetail_ServerAddress},
    {11280, "NEXORA_REMOTECONNECT", "A connection to the database server at '%s' cannot be established",
     FillServerAddress},
    {11281, "NEXORA_REMOTENOLOGIN",
     "A connection to the database server at '%s' cannot be established, the server is not accepting new logins",
     FillServerAddress},
    {11282, "NEXORA_REMOTEMAXCONNECT",
     "A connection to the database server at '%s' cannot be established, the maximum number of server or user "
     "connections has been reached",
     FillServerAddress},
    {11283, "NEXORA_REMOTEADDRESSBLOCK",
     "A connection to the database server at '%s' cannot be established, the client address is blocked",
     FillServerAddress},
    {11284, "NEXORA_REMOTECALLBACK", nullptr, FillNone},
    {11285, "NEXORA_REMOTECALLBACKERR", "A server callback error occurred for the database server at '%s'",
     FillServerAddress},
    {11286, "NEXORA_REMOTEVERSION",
     "A call to the database server at '%s' failed, the client engine version does not match the server",
     FillServerAddress},
    {11287, "NEXORA_REMOTEINVLOGIN",
     "A connection to the database server at '%s' cannot be established, the login information provided is invalid",
     FillServerAddress},
    {11288, "NEXORA_REMOTENOTAUTH",
     "The user '%s' is not authorized to perform this operation with the database '%s' on the database server at '%s'",
     FillUserName_DatabaseName_ServerAddress},
    {11289, "NEXORA_REMOTENOTADMIN",
     "The user '%s' is not authorized to perform administration functions on the database server at '%s'",
     FillUserName_ServerAddress},
    {11290, "NEXORA_REMOTEINVUSER", "The user name is either invalid or blank", FillNone},
    {11291, "NEXORA_REMOTENOUSER", "The user '%s' does not exist on the database server at '%s'",
     FillUserName_ServerAddress},
    {11292, "NEXORA_REMOTEDUPUSER", "The user '%s' already exists on the database server at '%s'",
     FillUserName_ServerAddress},
    {11293, "NEXORA_REMOTEINVDB", "The database name or directory is either invalid or blank", FillNone},
    {11294, "NEXORA_REMOTENODB", "The database '%s' does not exist on the database server at '%s'",
     FillDatabaseName_ServerAddress},
    {11295, "NEXORA_REMOTEDUPDB", "The database '%s' already exists on the database server at '%s'",
     FillDatabaseName_ServerAddress},
    {11296, "NEXORA_REMOTEINVDBUSER", "The database user name is either invalid or blank", FillNone},
    {11297, "NEXORA_REMOTENODBUSER",
     "The database user '%s' does not exist for the database '%s' on the database server at '%s'",
     FillUserName_DatabaseName_ServerAddress},
    {11298, "NEXORA_REMOTEDUPDBUSER",
     "The database user '%s' already exists for the database '%s' on the database server at '%s'",
     FillUserName_DatabaseName_ServerAddress},
    {11299, "", "The procedure name is either invalid or blank", FillNone},
    {11300, "", "The procedure '%s' does not exist on the database server at '%s'", FillProcedureName_ServerAddress},
    {11301, "", "The procedure '%s' already exists on the database server at '%s'", FillProcedureName_ServerAddress},
    {11302, "", "The procedure user name is either invalid or blank", FillNone},
    {11303, "", "The procedure user '%s' does not exist for the database '%s' on the database server at '%s'",
     FillUserName_DatabaseName_ServerAddress},
    {11304, "", "The procedure user '%s' already exists for the database '%s' on the database server at '%s'",
     FillUserName_DatabaseName_ServerAddress},
    {11305, "", "The event name is either invalid or blank", FillNone},
    {11306, "", "The event '%s' does not exist on the database server at '%s'", FillEventName_ServerAddress},
    {11307, "", "The event '%s' already exists on the database server at '%s'", FillEventName_ServerAddress},
    {11308, "NEXORA_REMOTEINVREQUEST", "An invalid or unknown request was made to the database server at '%s'",
     FillServerAddress},
    {11309, "NEXORA_IMPORTERROR", "An error occurred during the import into the table '%s' - %s", FillTableName_Detail},
    {11310, "NEXORA_EXPORTERROR", "An error occurred during the export from the table '%s' - %s", FillTableName_Detail},
    {11312, "NEXORA_LOADSTREAMERROR", "An error occurred during the loading of a stream into the table '%s' - %s",
     FillTableName_Detail},
    {11313, "NEXORA_SAVESTREAMERROR", "An error occurred during the saving of the table '%s' to a stream - %s",
     FillTableName_Detail},
    {11314, "NEXORA_TRIGGERERROR", "An error occurred during a trigger on the table '%s' - %s", FillTableName_Detail},
    {11949, "NEXORA_SQLPARSE", "SQL parsing error - %s at line %u, column %u", FillDetail_Line_Column},
    {11950, "NEXORA_SQLEXEC", "SQL execution error - %s", FillDetail},
    {12035, "NEXORA_OLDVERSION", "The table '%s' is not the correct version", FillTableName},
    {12036, "NEXORA_BADSIGNATURE", "The table or backup file '%s' is not valid", FillTableName},
    {12292, "NEXORA_SEARCHCOLREQD", "Invalid field '%s' specified for the index '%s' in the table '%s'",
     FillFieldName_IndexName_TableName},
    {13060, "NEXORA_TABLEEXISTS", "The table '%s' already exists", FillTableName},
    {15001, "NEXORA_COMPRESS", "Error compressing data", FillNone},
    {15002, "NEXORA_UNCOMPRESS", "Error uncompressing data", FillNone},
    {15878, "NEXORA_CANNOTLOADLDDRV", "The locale support for the table '%s' is not available or installed",
     FillTableName},
};

constexpr bool IsSortedByCode() {
  for (std::size_t i = 1; i < std::size(Catalogue); ++i) {
    if (Catalogue[i - 1].Code >= Catalogue[i].Code) {
      return false;
    }
  }
  return true;
}
static_assert(IsSortedByCode(), "the catalogue must stay sorted by code for the binary search");

std::string FieldText(TErrorField field, const TErrorContext &context) {
  const TErrorNames &names = context.Names;
  switch (field) {
  case F::ServerAddress:
    return names.ServerAddress;
  case F::UserName:
    return names.UserName;
  case F::DatabaseName:
    return names.DatabaseName;
  case F::TableName:
    return names.TableName;
  case F::FieldName:
    return names.FieldName;
  case F::IndexName:
    return names.IndexName;
  case F::Detail:
    return names.Detail;
  case F::ProcedureName:
    return names.ProcedureName;
  case F::EventName:
    return names.EventName;
  // %u placeholders print the 32-bit value as unsigned.
  case F::Line:
    return std::to_string(static_cast<std::uint32_t>(names.Line));
  case F::Column:
    return std::to_string(static_cast<std::uint32_t>(names.Column));
  case F::OSCode:
    return std::to_string(
        static_cast<std::uint32_t>(context.OSErrorNumber != 0 ? context.OSErrorNumber : context.OSCode));
  }
  return {};
}

} // namespace

std::span<const TErrorCatalogueEntry> ErrorCatalogue() { return Catalogue; }

const TErrorCatalogueEntry *FindErrorEntry(TErrorCode code) {
  const auto *found =
      std::lower_bound(std::begin(Catalogue), std::end(Catalogue), code,
                       [](const TErrorCatalogueEntry &entry, TErrorCode wanted) { return entry.Code < wanted; });
  if (found == std::end(Catalogue) || found->Code != code) {
    return nullptr;
  }
  return found;
}

std::string FormatErrorMessage(TErrorCode code, const TErrorContext &context) {
  const TErrorCatalogueEntry *entry = FindErrorEntry(code);
  if (entry == nullptr || entry->Message == nullptr) {
    return UnknownErrorMessage;
  }
  std::string text;
  std::size_t nextFill = 0;
  for (const char *p = entry->Message; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'u') && nextFill < entry->Fills.size()) {
      text += FieldText(entry->Fills[nextFill++], context);
      ++p;
    } else {
      text += *p;
    }
  }
  if (text.size() > MaxErrorMessageLength) {
    text.resize(MaxErrorMessageLength);
  }
  return text;
}

std::string ErrorConstantName(TErrorCode code) {
  const TErrorCatalogueEntry *entry = FindErrorEntry(code);
  return entry == nullptr ? std::string() : std::string(entry->Constant);
}

} // namespace nexora
