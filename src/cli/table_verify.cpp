#include "cli/table_verify.h"

#include "engine/engine_error.h"
#include "storage/record_layout.h"

namespace nexora::cli {

std::vector<std::string> VerifyTable(TDataCursor &cursor) {
  std::vector<std::string> problems;
  // The structure checks of the three files, with their verification texts.
  TDataTable &table = cursor.Table();
  if (const TStructureCheck check = table.DataFile().CheckStructure(true)) {
    // Records cannot be read safely through damaged definitions.
    problems.push_back(StructureProblemMessage(check));
    return problems;
  }
  try {
    table.IndexFile().VerifyStructure();
  } catch (const ENEXORAEngineError &error) {
    problems.push_back(error.Detail().empty() ? error.what() : error.Detail());
    return problems;
  }
  if (table.HasBlobFields()) {
    try {
      table.BlobFile().VerifyStructure();
    } catch (const ENEXORAEngineError &error) {
      problems.push_back(std::string("BLOB file: ") + error.what());
    }
  }
  const std::int32_t headerCount = cursor.Table().DataFile().GetRecordCount();

  // Every physical record in natural order: the live ones are counted and their BLOBs read.
  std::int32_t live = 0;
  try {
    cursor.SetIndexNumber(TDataCursor::NaturalOrder);
    std::vector<std::uint8_t> image(cursor.RecordSize());
    cursor.First();
    for (std::int32_t physical = 1; cursor.Next(image.data()) == NEXORA_NONE; ++physical) {
      if (image[RecordStatusOffset] == RecordStatusDeleted) {
        continue;
      }
      ++live;
      for (std::int16_t number = 1; number <= cursor.FieldCount(); ++number) {
        if (cursor.FieldDef(number).Type() != ftcBlob) {
          continue;
        }
        try {
          cursor.OpenBlob(number, image, TBlobMode::Read);
          cursor.CloseBlob(number, image);
        } catch (const ENEXORAEngineError &error) {
          problems.push_back("Record " + std::to_string(physical) + ", field " + cursor.FieldDef(number).Name() + ": " +
                             error.what());
        }
      }
    }
  } catch (const ENEXORAEngineError &error) {
    problems.push_back(std::string("Reading the records failed: ") + error.what());
  }
  if (live != headerCount) {
    problems.push_back("Record count in the table header is " + std::to_string(headerCount) + ", but the table holds " +
                       std::to_string(live) + " records");
  }

  // Every index along its leaf chain must hold one key per live record.
  TIndexFile &index = cursor.Table().IndexFile();
  for (std::int32_t slot = 0; slot <= index.SecondaryCount(); ++slot) {
    const std::string name = slot == 0 ? std::string("Primary") : index.IndexDef(slot).Name();
    try {
      cursor.SetIndexNumber(static_cast<std::uint8_t>(slot));
      std::int32_t keys = 0;
      cursor.First();
      while (cursor.Next() == NEXORA_NONE) {
        ++keys;
        if (keys > live + 1) {
          break;
        }
      }
      if (keys != live) {
        problems.push_back("Index " + name + " leads to " + std::to_string(keys) + " records, the table holds " +
                           std::to_string(live));
      }
    } catch (const ENEXORAEngineError &error) {
      problems.push_back("Index " + name + ": " + error.what());
    }
  }
  try {
    cursor.SetIndexNumber(0);
  } catch (const ENEXORAEngineError &) {
    // Already reported with the primary index.
  }
  return problems;
}

} // namespace nexora::cli
