#include "support/records_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace nexora {

namespace {

constexpr std::int32_t WordBits = 32;
constexpr std::uint32_t AllBits = 0xFFFFFFFFu;

std::size_t WordCountFor(std::int32_t size) { return (static_cast<std::size_t>(size) + WordBits - 1) / WordBits; }

// Mask of bits 0..bit.
std::uint32_t MaskUpTo(std::int32_t bit) { return bit >= WordBits - 1 ? AllBits : (std::uint32_t{1} << (bit + 1)) - 1; }

// Mask of bits bit..31.
std::uint32_t MaskFrom(std::int32_t bit) { return AllBits << bit; }

// Position (0..31) of the k-th (0-based) set bit of word; requires k < popcount(word).
// Narrows down by halves, comparing k with the popcount of the lower part.
std::int32_t SelectInWord(std::uint32_t word, std::int32_t k) {
  std::int32_t position = 0;
  for (std::int32_t width = WordBits / 2; width > 0; width /= 2) {
    const std::uint32_t low = word & ((std::uint32_t{1} << width) - 1);
    const std::int32_t lowCount = std::popcount(low);
    if (k >= lowCount) {
      k -= lowCount;
      word >>= width;
      position += width;
    } else {
      word = low;
    }
  }
  return position;
}

std::int32_t RecordAt(std::size_t wordIndex, std::int32_t bit) {
  return static_cast<std::int32_t>(wordIndex) * WordBits + bit + 1;
}

} // namespace

TRecordsBitmap::TRecordsBitmap(std::int32_t size) { SetSize(size); }

void TRecordsBitmap::SetSize(std::int32_t size) {
  size_ = std::max(size, std::int32_t{0});
  // Growing appends zero words; the old last word's padding is already clear by invariant.
  words_.resize(WordCountFor(size_), 0);
  ClearPadding();
}

bool TRecordsBitmap::Test(std::int32_t recNo) const {
  if (recNo < 1 || recNo > size_) {
    return false;
  }
  const auto bit = static_cast<std::uint32_t>(recNo - 1);
  return (words_[bit / WordBits] >> (bit % WordBits) & 1u) != 0;
}

void TRecordsBitmap::Set(std::int32_t recNo) {
  if (recNo < 1 || recNo > size_) {
    return;
  }
  const auto bit = static_cast<std::uint32_t>(recNo - 1);
  words_[bit / WordBits] |= std::uint32_t{1} << (bit % WordBits);
}

void TRecordsBitmap::Clear(std::int32_t recNo) {
  if (recNo < 1 || recNo > size_) {
    return;
  }
  const auto bit = static_cast<std::uint32_t>(recNo - 1);
  words_[bit / WordBits] &= ~(std::uint32_t{1} << (bit % WordBits));
}

std::int32_t TRecordsBitmap::Count() const {
  std::int32_t count = 0;
  for (const std::uint32_t word : words_) {
    count += std::popcount(word);
  }
  return count;
}

void TRecordsBitmap::SetAll() {
  std::fill(words_.begin(), words_.end(), AllBits);
  ClearPadding();
}

void TRecordsBitmap::ClearAll() { std::fill(words_.begin(), words_.end(), 0u); }

void TRecordsBitmap::Assign(const TRecordsBitmap &other) {
  size_ = other.size_;
  words_ = other.words_;
}

void TRecordsBitmap::And(const TRecordsBitmap &other) {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    words_[i] &= i < other.words_.size() ? other.words_[i] : 0u;
  }
}

void TRecordsBitmap::Or(const TRecordsBitmap &other) {
  const std::size_t common = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < common; ++i) {
    words_[i] |= other.words_[i];
  }
  // other may be longer and have bits set beyond this size inside the last word.
  ClearPadding();
}

std::int32_t TRecordsBitmap::FindNext(std::int32_t fromRecNo, std::int32_t n) const {
  if (n < 1 || fromRecNo >= size_) {
    return 0;
  }
  // 0-based bit index of the first candidate record, fromRecNo + 1.
  const std::int32_t first = std::max(fromRecNo, std::int32_t{0});
  std::size_t wordIndex = static_cast<std::size_t>(first / WordBits);
  std::uint32_t word = words_[wordIndex] & MaskFrom(first % WordBits);
  while (true) {
    const std::int32_t count = std::popcount(word);
    if (count >= n) {
      return RecordAt(wordIndex, SelectInWord(word, n - 1));
    }
    n -= count;
    if (++wordIndex == words_.size()) {
      return 0;
    }
    word = words_[wordIndex];
  }
}

std::int32_t TRecordsBitmap::FindPrior(std::int32_t fromRecNo, std::int32_t n) const {
  if (n < 1 || fromRecNo <= 1 || size_ == 0) {
    return 0;
  }
  // 0-based bit index of the last candidate record, fromRecNo - 1.
  const std::int32_t last = (fromRecNo > size_ ? size_ : fromRecNo - 1) - 1;
  std::size_t wordIndex = static_cast<std::size_t>(last / WordBits);
  std::uint32_t word = words_[wordIndex] & MaskUpTo(last % WordBits);
  while (true) {
    const std::int32_t count = std::popcount(word);
    if (count >= n) {
      // The n-th from the top is the (count - n)-th from the bottom.
      return RecordAt(wordIndex, SelectInWord(word, count - n));
    }
    n -= count;
    if (wordIndex == 0) {
      return 0;
    }
    word = words_[--wordIndex];
  }
}

void TRecordsBitmap::ClearPadding() {
  const std::int32_t used = size_ % WordBits;
  if (used != 0) {
    words_.back() &= MaskUpTo(used - 1);
  }
}

} // namespace nexora
