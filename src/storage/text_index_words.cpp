#include "storage/text_index_words.h"

#include <algorithm>
#include <cstring>

#include "engine/data_engine.h"
#include "engine/data_locale.h"
#include "storage/index_file_format.h"
#include "storage/record_layout.h"

namespace nexora {

namespace {

constexpr std::int32_t LengthFieldSize = 4;
constexpr std::int32_t MaxStopWordLength = 255;

// Appends fields to page payloads, starting a new page for a field that does not fit.
class TParamsWriter {
public:
  explicit TParamsWriter(std::int32_t payloadSize) : payloadSize_(payloadSize) { NewPage(); }

  void PutInt(std::int32_t value) {
    std::uint8_t bytes[LengthFieldSize];
    StoreLittleEndian(bytes, value);
    PutRun(bytes, LengthFieldSize);
  }
  void PutRun(const void *bytes, std::int32_t length) {
    if (length > payloadSize_ - position_) {
      NewPage();
    }
    if (length > 0) {
      std::memcpy(pages_.back().data() + position_, bytes, static_cast<std::size_t>(length));
    }
    position_ += length;
  }
  std::vector<std::vector<std::uint8_t>> TakePages() { return std::move(pages_); }

private:
  void NewPage() {
    pages_.emplace_back(static_cast<std::size_t>(payloadSize_), 0);
    position_ = 0;
  }

  std::int32_t payloadSize_;
  std::int32_t position_ = 0;
  std::vector<std::vector<std::uint8_t>> pages_;
};

// Reads fields back in the same way; false once the chain ended before a field.
class TParamsReader {
public:
  TParamsReader(std::int32_t payloadSize, const std::function<const std::uint8_t *()> &nextPayload)
      : payloadSize_(payloadSize), nextPayload_(nextPayload), page_(nextPayload()) {}

  bool GetInt(std::int32_t &value) {
    std::uint8_t bytes[LengthFieldSize];
    if (!GetRun(bytes, LengthFieldSize)) {
      return false;
    }
    value = LoadLittleEndian<std::int32_t>(bytes);
    return true;
  }
  bool GetRun(void *bytes, std::int32_t length) {
    if (page_ != nullptr && length > payloadSize_ - position_) {
      page_ = nextPayload_();
      position_ = 0;
    }
    if (page_ == nullptr || length > payloadSize_) {
      return false;
    }
    if (length > 0) {
      std::memcpy(bytes, page_ + position_, static_cast<std::size_t>(length));
    }
    position_ += length;
    return true;
  }

private:
  std::int32_t payloadSize_;
  const std::function<const std::uint8_t *()> &nextPayload_;
  const std::uint8_t *page_;
  std::int32_t position_ = 0;
};

bool ReadCharSet(TParamsReader &reader, TCharSet &set) {
  std::int32_t length = 0;
  return reader.GetInt(length) && length == static_cast<std::int32_t>(TCharSet::Size) &&
         reader.GetRun(set.Bits.data(), length);
}

bool SortedContains(std::uint32_t localeId, const std::vector<std::string> &words, const std::string &word) {
  return std::binary_search(words.begin(), words.end(), word, [localeId](const std::string &a, const std::string &b) {
    return CompareTextWords(localeId, a, b) < 0;
  });
}

} // namespace

TTextIndexParams TTextIndexParams::Defaults() {
  TTextIndexParams params;
  params.StopWords = {"A",  "AN",   "AND", "BE",   "FOR", "HOW", "IN",   "IS",   "IT",    "OF",  "ON",
                      "OR", "THAT", "THE", "THIS", "TO",  "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
  params.SpaceChars.AddRange(1, 32);
  params.SpaceChars.AddRange(42, 47);
  params.SpaceChars.AddRange(58, 62);
  params.SpaceChars.Add(92);
  params.SpaceChars.Add(96);
  params.IncludeChars.AddRange(48, 57);
  params.IncludeChars.AddRange(65, 90);
  params.IncludeChars.AddRange(97, 122);
  params.IncludeChars.Add(95);
  params.IncludeChars.AddRange(128, 254);
  return params;
}

std::vector<std::vector<std::uint8_t>> PackTextIndexParams(const TTextIndexParams &params, std::int32_t payloadSize) {
  TParamsWriter writer(payloadSize);
  writer.PutInt(static_cast<std::int32_t>(params.StopWords.size()));
  const std::int32_t maxLength = std::min(MaxStopWordLength, payloadSize);
  for (const std::string &word : params.StopWords) {
    const auto length =
        static_cast<std::int32_t>(std::min<std::size_t>(word.size(), static_cast<std::size_t>(maxLength)));
    writer.PutInt(length);
    writer.PutRun(word.data(), length);
  }
  for (const TCharSet *set : {&params.SpaceChars, &params.IncludeChars}) {
    writer.PutInt(static_cast<std::int32_t>(TCharSet::Size));
    writer.PutRun(set->Bits.data(), static_cast<std::int32_t>(TCharSet::Size));
  }
  return writer.TakePages();
}

std::optional<TTextIndexParams> UnpackTextIndexParams(std::int32_t payloadSize,
                                                      const std::function<const std::uint8_t *()> &nextPayload) {
  TParamsReader reader(payloadSize, nextPayload);
  TTextIndexParams params;
  std::int32_t count = 0;
  if (!reader.GetInt(count) || count < 0) {
    return std::nullopt;
  }
  const std::int32_t maxLength = std::min(MaxStopWordLength, payloadSize);
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t length = 0;
    if (!reader.GetInt(length) || length < 0 || length > maxLength) {
      return std::nullopt;
    }
    std::string word(static_cast<std::size_t>(length), '\0');
    if (!reader.GetRun(word.data(), length)) {
      return std::nullopt;
    }
    params.StopWords.push_back(std::move(word));
  }
  if (!ReadCharSet(reader, params.SpaceChars) || !ReadCharSet(reader, params.IncludeChars)) {
    return std::nullopt;
  }
  return params;
}

int CompareTextWords(std::uint32_t localeId, std::string_view a, std::string_view b) {
  return CompareLocaleText(localeId, a, b, true);
}

std::vector<std::string> ExtractTextWords(const TTextIndexParams &params, std::uint32_t localeId, std::string_view text,
                                          const std::function<bool(const std::string &)> &acceptToken) {
  const auto less = [localeId](const std::string &a, const std::string &b) {
    return CompareTextWords(localeId, a, b) < 0;
  };
  std::vector<std::string> words;
  std::string word;
  const auto endWord = [&] {
    if (!word.empty() && acceptToken(word)) {
      const auto at = std::lower_bound(words.begin(), words.end(), word, less);
      if (at == words.end() || less(word, *at)) {
        words.insert(at, word);
      }
    }
    word.clear();
  };
  for (const char c : text) {
    const auto code = static_cast<std::uint8_t>(c);
    if (params.SpaceChars.Contains(code)) {
      endWord();
    } else if (params.IncludeChars.Contains(code) && word.size() < static_cast<std::size_t>(MaxTextWordLength)) {
      word.push_back(c);
    }
  }
  endWord();
  std::vector<std::string> stopWords = params.StopWords;
  std::sort(stopWords.begin(), stopWords.end(), less);
  std::erase_if(words, [&](const std::string &w) { return SortedContains(localeId, stopWords, w); });
  return words;
}

std::vector<std::string> IndexedTextWords(TDataEngine &engine, const TTextIndexParams &params, std::uint32_t localeId,
                                          const std::string &tableName, const std::string &fieldName,
                                          const std::string &text) {
  const std::string filtered = engine.FilterTextIndex(tableName, fieldName, text);
  return ExtractTextWords(params, localeId, filtered, [&](const std::string &token) {
    return engine.FilterTextIndexToken(tableName, fieldName, token);
  });
}

TTextWordChanges TextWordChanges(std::uint32_t localeId, const std::vector<std::string> &oldWords,
                                 const std::vector<std::string> &newWords, bool sameRecordID) {
  if (!sameRecordID) {
    return {oldWords, newWords};
  }
  TTextWordChanges changes;
  for (const std::string &word : oldWords) {
    if (!SortedContains(localeId, newWords, word)) {
      changes.Deleted.push_back(word);
    }
  }
  for (const std::string &word : newWords) {
    if (!SortedContains(localeId, oldWords, word)) {
      changes.Inserted.push_back(word);
    }
  }
  return changes;
}

} // namespace nexora
