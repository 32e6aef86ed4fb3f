#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nexora {

class TDataEngine;

// A set of character codes: code c is a member when bit c mod 8 of byte c / 8 is set
// (the stored form of the full-text parameters).
struct TCharSet {
  static constexpr std::size_t Size = 32;
  std::array<std::uint8_t, Size> Bits{};

  bool Contains(std::uint8_t c) const { return (Bits[c / 8] >> (c % 8) & 1) != 0; }
  void Add(std::uint8_t c) { Bits[c / 8] = static_cast<std::uint8_t>(Bits[c / 8] | 1 << (c % 8)); }
  void AddRange(std::uint8_t first, std::uint8_t last) {
    for (int c = first; c <= last; ++c) {
      Add(static_cast<std::uint8_t>(c));
    }
  }
  bool operator==(const TCharSet &) const = default;
};

// The full-text parameters of a table: stop words, space characters (which end words)
// and include characters (which words are made of). Plain value; any thread.
struct TTextIndexParams {
  std::vector<std::string> StopWords;
  TCharSet SpaceChars;
  TCharSet IncludeChars;

  // The parameters of a table that stores none.
  static TTextIndexParams Defaults();
  bool operator==(const TTextIndexParams &) const = default;
};

// The parameters as the byte stream laid over raw pages of payloadSize bytes: a 32-bit
// stop-word count, each word as a 32-bit length and its characters, then each character
// set as the length 32 and its 32 bytes. A length field or a run that does not fit in the
// rest of a payload starts the next one. Stop words are cut to min(255, payloadSize)
// characters. One vector of payloadSize bytes per page; requires payloadSize >= 32.
std::vector<std::vector<std::uint8_t>> PackTextIndexParams(const TTextIndexParams &params, std::int32_t payloadSize);

// Reads the stream back. nextPayload gives the payload of the next page of the chain
// (the first page at the first call), null when the chain ends. Nothing when the
// stream is damaged: a negative count, a length beyond its limits, or a chain that ends
// before the stream.
std::optional<TTextIndexParams> UnpackTextIndexParams(std::int32_t payloadSize,
                                                      const std::function<const std::uint8_t *()> &nextPayload);

// Word lists are sorted and compared with the locale, ignoring case and non-spacing marks
// (locale 0: upper-cased, then bytewise).
int CompareTextWords(std::uint32_t localeId, std::string_view a, std::string_view b);

// The words of a text that give keys: split at space characters, made of include
// characters (others dropped), cut to 60 characters, each non-empty one kept when
// acceptToken says so; sorted without duplicates; stop words removed.
std::vector<std::string> ExtractTextWords(const TTextIndexParams &params, std::uint32_t localeId, std::string_view text,
                                          const std::function<bool(const std::string &)> &acceptToken);

// ExtractTextWords after the engine's text filter, with the engine's token filter, both
// given the table and field names.
std::vector<std::string> IndexedTextWords(TDataEngine &engine, const TTextIndexParams &params, std::uint32_t localeId,
                                          const std::string &tableName, const std::string &fieldName,
                                          const std::string &text);

// The key changes of an update of one field: with equal old and new record IDs the words
// in both lists stay untouched; every other old word is deleted and new word inserted.
struct TTextWordChanges {
  std::vector<std::string> Deleted;
  std::vector<std::string> Inserted;
};
TTextWordChanges TextWordChanges(std::uint32_t localeId, const std::vector<std::string> &oldWords,
                                 const std::vector<std::string> &newWords, bool sameRecordID);

} // namespace nexora
