#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engine/error_catalogue.h"

namespace nexora {
namespace {

struct TExpectedEntry {
  TErrorCode Code;
  const char *Constant;
  const char *Message; // nullptr: no message of its own
};

// Written from the published catalogue, line by line.
const TExpectedEntry Expected[] = {
    {0, "NEXORA_NONE", nullptr},
    {8705, "NEXORA_BOF", "Beginning of table '%s' unexpectedly encountered"},
    {8706, "NEXORA_EOF", "End of table '%s' unexpectedly encountered"},
    {8708, "NEXORA_KEYORRECDELETED",
     "Record has been changed or deleted by another user, session, or table cursor in the table '%s'"},
    {8709, "NEXORA_NOCURRREC", "No current record in the table '%s'"},
    {8710, "NEXORA_RECNOTFOUND", "Record not found in the table '%s'"},
    {8711, "NEXORA_ENDOFBLOB", "End of BLOB field in the table '%s' reached prematurely"},
    {8961, "NEXORA_HEADERCORRUPT", "Header information corrupt in the table '%s'"},
    {8962, "NEXORA_FILECORRUPT", "Data record buffers corrupt in the table '%s'"},
    {8963, "NEXORA_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'"},
    {8965, "NEXORA_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'"},
    {9217, "NEXORA_READERR", "Error reading from the table or backup file '%s'"},
    {9218, "NEXORA_WRITEERR", "Error writing to the table or backup file '%s'"},
    {9477, "NEXORA_RECTOOBIG", "Maximum record size exceeded in the table '%s'"},
    {9479, "NEXORA_TABLEFULL", "The table '%s' is full and cannot contain any more data"},
    {9480, "NEXORA_DATABASEFULL", "The database '%s' is full and cannot contain any more tables"},
    {9482, "NEXORA_INTERNALLIMIT", "Too many filters defined for the table '%s'"},
    {9487, "NEXORA_INDEXLIMIT",
     "Maximum or minimum limits on the index page size, the number of indexes, or the number of fields in an index "
     "exceeded in the table '%s'"},
    {9492, "NEXORA_FLDLIMIT", "Maximum or minimum limits on number of fields exceeded in the table '%s'"},
    {9494, "NEXORA_OPENBLOBLIMIT", "Too many BLOBs opened in the table '%s'"},
    {9498, "NEXORA_BLOBLIMIT", "Too many BLOB fields or invalid BLOB block size specified for the table '%s'"},
    {9729, "NEXORA_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'"},
    {9730, "NEXORA_MINVALERR", "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {9731, "NEXORA_MAXVALERR", "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {9732, "NEXORA_REQDERR", "A value must be provided for the field '%s' in the table '%s'"},
    {9985, "NEXORA_OUTOFRANGE", "Invalid field number or name '%s' specified for the table '%s'"},
    {9993, "NEXORA_PRIMARYKEYREDEFINE",
     "A primary index is already defined for the table '%s' and cannot be added again"},
    {9998, "NEXORA_INVALIDBLOBOFFSET", "Invalid BLOB offset into the table '%s' specified"},
    {10000, "NEXORA_INVALIDFLDTYPE", "Invalid field definition specified for the field '%s' in the table '%s'"},
    {10006, "NEXORA_INVALIDVCHKSTRUCT",
     "Invalid default expression or min/max constraint specified for the field '%s' in the table '%s'"},
    {10010, "NEXORA_INDEXNAMEREQUIRED", "The secondary index name is missing or not specified for the table '%s'"},
    {10015, "NEXORA_INVALIDPASSWORD", "Password provided for the table '%s' is invalid"},
    {10022, "NEXORA_INVALIDINDEXNAME", "Invalid secondary index name '%s' specified for the table '%s'"},
    {10023, "NEXORA_INVALIDIDXDESC", "Invalid field number '%s' specified in the index '%s' for the table '%s'"},
    {10026, "NEXORA_INVALIDKEY", "Invalid key size specified in the index '%s' for the table '%s'"},
    {10027, "NEXORA_INDEXEXISTS", "The secondary index '%s' already exists for the table '%s'"},
    {10029, "NEXORA_INVALIDBLOBLEN", "Invalid BLOB length in the table '%s'"},
    {10030, "NEXORA_INVALIDBLOBHANDLE", "Invalid BLOB handle for the table '%s' specified"},
    {10031, "NEXORA_TABLEOPEN", "The table '%s' is already in use"},
    {10038, "NEXORA_INVALIDFIELDNAME", "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {10050, "NEXORA_NOSUCHFILTER", "Invalid filter handle specified for the table '%s'"},
    {10051, "NEXORA_INVALIDFILTER", "Filter error for the table '%s' - %s at line %u, column %u"},
    {10221, "NEXORA_LOCKREADLOCK", "Cannot read lock the lock file for the database '%s'"},
    {10222, "NEXORA_LOCKREADUNLOCK", "Cannot read unlock the lock file for the database '%s'"},
    {10223, "NEXORA_LOCKWRITELOCK", "Cannot write lock the lock file for the database '%s'"},
    {10224, "NEXORA_LOCKWRITEUNLOCK", "Cannot write unlock the lock file for the database '%s'"},
    {10225, "NEXORA_READLOCK", "Cannot read lock the table '%s'"},
    {10226, "NEXORA_READUNLOCK", "Cannot read unlock the table '%s'"},
    {10227, "NEXORA_WRITELOCK", "Cannot write lock the table '%s'"},
    {10228, "NEXORA_WRITEUNLOCK", "Cannot write unlock the table '%s'"},
    {10229, "NEXORA_TRANSLOCK", "Transaction cannot lock the database '%s'"},
    {10230, "NEXORA_TRANSUNLOCK", "Transaction cannot unlock the database '%s'"},
    {10241, "NEXORA_LOCKED", "Cannot lock the table '%s'"},
    {10242, "NEXORA_UNLOCKFAILED", "Cannot unlock the table or record in the table '%s'"},
    {10253, "NEXORA_NEEDEXCLACCESS", "The table '%s' must be opened exclusively"},
    {10258, "NEXORA_RECLOCKFAILED", "Cannot lock record in the table '%s'"},
    {10498, "NEXORA_NOTSUFFTABLERIGHTS", "Insufficient rights to the table '%s', a password is required"},
    {10753, "NEXORA_NOTABLOB", "Invalid BLOB field '%s' specified for the table '%s'"},
    {11010, "NEXORA_OSENOENT", "Table or backup file '%s' does not exist"},
    {11012, "NEXORA_OSEMFILE", "Too many operating system files open while attempting to open the table '%s'"},
    {11013, "NEXORA_OSEACCES", "Access denied to table or backup file '%s'"},
    {11014, "NEXORA_OSEBADF", "Invalid operating system file handle for the table '%s'"},
    {11016, "NEXORA_OSENOMEM", "There is insufficient operating system memory available for the current operation"},
    {11023, "NEXORA_OSENODEV", "Access denied to logical operating system device for the table '%s'"},
    {11025, "NEXORA_OSENOTSAM", "The table or backup file '%s' has been moved"},
    {11047, "NEXORA_OSUNKNOWN", "An unknown operating system error %u occurred with the table or backup file '%s'"},
    {11276, "NEXORA_REMOTECOMMLOST", "The connection to the database server at '%s' has been lost"},
    {11277, "NEXORA_REMOTEENCRYPTREQ", "The database server at '%s' requires an encrypted connection"},
    {11279, "NEXORA_REMOTEUNKNOWN",
     "An unknown error ('%s') occurred with the connection to the database server at '%s', please check the server "
     "log"},
    {11280, "NEXORA_REMOTECONNECT", "A connection to the database server at '%s' cannot be established"},
    {11281, "NEXORA_REMOTENOLOGIN",
     "A connection to the database server at '%s' cannot be established, the server is not accepting new logins"},
    {11282, "NEXORA_REMOTEMAXCONNECT",
     "A connection to the database server at '%s' cannot be established, the maximum number of server or user "
     "connections has been reached"},
    {11283, "NEXORA_REMOTEADDRESSBLOCK",
     "A connection to the database server at '%s' cannot be established, the client address is blocked"},
    {11284, "NEXORA_REMOTECALLBACK", nullptr},
    {11285, "NEXORA_REMOTECALLBACKERR", "A server callback error occurred for the database server at '%s'"},
    {11286, "NEXORA_REMOTEVERSION",
     "A call to the database server at '%s' failed, the client engine version does not match the server"},
    {11287, "NEXORA_REMOTEINVLOGIN",
     "A connection to the database server at '%s' cannot be established, the login information provided is invalid"},
    {11288, "NEXORA_REMOTENOTAUTH",
     "The user '%s' is not authorized to perform this operation with the database '%s' on the database server at '%s'"},
    {11289, "NEXORA_REMOTENOTADMIN",
     "The user '%s' is not authorized to perform administration functions on the database server at '%s'"},
    {11290, "NEXORA_REMOTEINVUSER", "The user name is either invalid or blank"},
    {11291, "NEXORA_REMOTENOUSER", "The user '%s' does not exist on the database server at '%s'"},
    {11292, "NEXORA_REMOTEDUPUSER", "The user '%s' already exists on the database server at '%s'"},
    {11293, "NEXORA_REMOTEINVDB", "The database name or directory is either invalid or blank"},
    {11294, "NEXORA_REMOTENODB", "The database '%s' does not exist on the database server at '%s'"},
    {11295, "NEXORA_REMOTEDUPDB", "The database '%s' already exists on the database server at '%s'"},
    {11296, "NEXORA_REMOTEINVDBUSER", "The database user name is either invalid or blank"},
    {11297, "NEXORA_REMOTENODBUSER",
     "The database user '%s' does not exist for the database '%s' on the database server at '%s'"},
    {11298, "NEXORA_REMOTEDUPDBUSER",
     "The database user '%s' already exists for the database '%s' on the database server at '%s'"},
    {11299, "", "The procedure name is either invalid or blank"},
    {11300, "", "The procedure '%s' does not exist on the database server at '%s'"},
    {11301, "", "The procedure '%s' already exists on the database server at '%s'"},
    {11302, "", "The procedure user name is either invalid or blank"},
    {11303, "", "The procedure user '%s' does not exist for the database '%s' on the database server at '%s'"},
    {11304, "", "The procedure user '%s' already exists for the database '%s' on the database server at '%s'"},
    {11305, "", "The event name is either invalid or blank"},
    {11306, "", "The event '%s' does not exist on the database server at '%s'"},
    {11307, "", "The event '%s' already exists on the database server at '%s'"},
    {11308, "NEXORA_REMOTEINVREQUEST", "An invalid or unknown request was made to the database server at '%s'"},
    {11309, "NEXORA_IMPORTERROR", "An error occurred during the import into the table '%s' - %s"},
    {11310, "NEXORA_EXPORTERROR", "An error occurred during the export from the table '%s' - %s"},
    {11312, "NEXORA_LOADSTREAMERROR", "An error occurred during the loading of a stream into the table '%s' - %s"},
    {11313, "NEXORA_SAVESTREAMERROR", "An error occurred during the saving of the table '%s' to a stream - %s"},
    {11314, "NEXORA_TRIGGERERROR", "An error occurred during a trigger on the table '%s' - %s"},
    {11949, "NEXORA_SQLPARSE", "SQL parsing error - %s at line %u, column %u"},
    {11950, "NEXORA_SQLEXEC", "SQL execution error - %s"},
    {12035, "NEXORA_OLDVERSION", "The table '%s' is not the correct version"},
    {12036, "NEXORA_BADSIGNATURE", "The table or backup file '%s' is not valid"},
    {12292, "NEXORA_SEARCHCOLREQD", "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {13060, "NEXORA_TABLEEXISTS", "The table '%s' already exists"},
    {15001, "NEXORA_COMPRESS", "Error compressing data"},
    {15002, "NEXORA_UNCOMPRESS", "Error uncompressing data"},
    {15878, "NEXORA_CANNOTLOADLDDRV", "The locale support for the table '%s' is not available or installed"},
};

TEST(ErrorCatalogue, EveryCodeHasItsConstantAndMessage) {
  for (const TExpectedEntry &expected : Expected) {
    SCOPED_TRACE(expected.Code);
    const TErrorCatalogueEntry *entry = FindErrorEntry(expected.Code);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->Constant, expected.Constant);
    if (expected.Message == nullptr) {
      EXPECT_EQ(entry->Message, nullptr);
    } else {
      ASSERT_NE(entry->Message, nullptr);
      EXPECT_STREQ(entry->Message, expected.Message);
    }
  }
}

TEST(ErrorCatalogue, HoldsNoCodeBeyondThePublishedOnes) {
  std::set<TErrorCode> published;
  for (const TExpectedEntry &expected : Expected) {
    published.insert(expected.Code);
  }
  for (const TErrorCatalogueEntry &entry : ErrorCatalogue()) {
    EXPECT_TRUE(published.count(entry.Code)) << entry.Code;
  }
  EXPECT_EQ(published.size(), ErrorCatalogue().size());
}

TEST(ErrorCatalogue, EachPlaceholderHasOneFillField) {
  for (const TErrorCatalogueEntry &entry : ErrorCatalogue()) {
    if (entry.Message == nullptr) {
      continue;
    }
    std::size_t placeholders = 0;
    for (const char *p = entry.Message; *p != '\0'; ++p) {
      if (p[0] == '%' && (p[1] == 's' || p[1] == 'u')) {
        ++placeholders;
      }
    }
    EXPECT_EQ(placeholders, entry.Fills.size()) << entry.Code;
  }
}

TEST(ErrorCatalogue, ConstantNamesOfCodesWithoutThem) {
  struct TCase {
    TErrorCode Code;
    const char *Constant;
  } cases[] = {
      {9999, ""},                       // not in the catalogue
      {11300, ""},                      // a message but no constant
      {11284, "NEXORA_REMOTECALLBACK"}, // a constant but no message
      {0, "NEXORA_NONE"},
  };
  for (const TCase &c : cases) {
    EXPECT_EQ(ErrorConstantName(c.Code), c.Constant) << c.Code;
  }
}

TEST(ErrorCatalogue, CodesWithoutMessageGiveTheFallback) {
  TErrorContext context;
  context.Names.TableName = "orders";
  for (TErrorCode code : {TErrorCode{0}, TErrorCode{11284}, TErrorCode{9999}, TErrorCode{1}}) {
    EXPECT_EQ(FormatErrorMessage(code, context), "An unknown error occurred") << code;
  }
}

TEST(ErrorCatalogue, PlaceholdersFillInTheirListedOrder) {
  TErrorContext context;
  context.Names = TErrorNames{.ServerAddress = "10.0.0.1",
                              .UserName = "ann",
                              .DatabaseName = "sales",
                              .TableName = "orders",
                              .FieldName = "Total",
                              .IndexName = "ByDate",
                              .Detail = "unexpected token",
                              .ProcedureName = "Nightly",
                              .EventName = "Purge",
                              .Line = 3,
                              .Column = 14};
  struct TCase {
    TErrorCode Code;
    const char *Text;
  } cases[] = {
      {10023, "Invalid field number 'Total' specified in the index 'ByDate' for the table 'orders'"},
      {10051, "Filter error for the table 'orders' - unexpected token at line 3, column 14"},
      {11949, "SQL parsing error - unexpected token at line 3, column 14"},
      {9480, "The database 'sales' is full and cannot contain any more tables"},
      {11288, "The user 'ann' is not authorized to perform this operation with the database 'sales' on the "
              "database server at '10.0.0.1'"},
      {11300, "The procedure 'Nightly' does not exist on the database server at '10.0.0.1'"},
      {11306, "The event 'Purge' does not exist on the database server at '10.0.0.1'"},
      {11016, "There is insufficient operating system memory available for the current operation"},
  };
  for (const TCase &c : cases) {
    EXPECT_EQ(FormatErrorMessage(c.Code, context), c.Text) << c.Code;
  }
}

TEST(ErrorCatalogue, FilledMessageIsCutTo254) {
  TErrorContext context;
  context.Names.TableName = std::string(255, 't');
  context.Names.IndexName = std::string(255, 'i');
  const std::string text = FormatErrorMessage(NEXORA_KEYVIOL, context);
  EXPECT_EQ(text.size(), 254u);
  EXPECT_EQ(text.rfind("Duplicate key found in the index 'iii", 0), 0u);
}

} // namespace
} // namespace nexora
