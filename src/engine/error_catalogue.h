#pragma once

#include <span>
#include <string>

#include "engine/error_context.h"

namespace nexora {

// The context field that fills one placeholder of a catalogue message.
enum class TErrorField {
  ServerAddress,
  UserName,
  DatabaseName,
  TableName,
  FieldName,
  IndexName,
  Detail,
  ProcedureName,
  EventName,
  Line,
  Column,
  OSCode,
};

// One catalogue line: code, constant name ("" when the code has none), message format
// (nullptr when the code has no message of its own) and the fields that fill its
// placeholders, in order.
struct TErrorCatalogueEntry {
  TErrorCode Code;
  const char *Constant;
  const char *Message;
  std::span<const TErrorField> Fills;
};

inline constexpr std::size_t MaxErrorMessageLength = 254;
inline constexpr const char *UnknownErrorMessage = "An unknown error occurred";

// The catalogue line of a code, or nullptr for a code that is not in the catalogue.
const TErrorCatalogueEntry *FindErrorEntry(TErrorCode code);

// Every catalogue line, sorted by code.
std::span<const TErrorCatalogueEntry> ErrorCatalogue();

// The code's message with its placeholders filled from the context, cut to 254
// characters; "An unknown error occurred" for a code without a message.
std::string FormatErrorMessage(TErrorCode code, const TErrorContext &context);

// The code's constant name, or "" for a code without one.
std::string ErrorConstantName(TErrorCode code);

} // namespace nexora
