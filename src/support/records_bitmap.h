#pragma once

#include <cstdint>
#include <vector>

namespace nexora {

// A set of record numbers 1..Size(), one bit per record in 32-bit words (record r is bit
// (r - 1) % 32 of word (r - 1) / 32). Bits in the last word beyond Size() are always clear,
// so counts and searches never see them.
//
// Record numbers outside 1..Size() are not in the set: Test answers false and Set/Clear do
// nothing. Sizes below 0 are treated as 0.
//
// Threads: one thread at a time; no member takes a lock. Operations raise only std::bad_alloc
// (from SetSize).
class TRecordsBitmap {
public:
  explicit TRecordsBitmap(std::int32_t size = 0);

  // Sets the number of records. Records past the old size start clear, also after the bitmap
  // was shrunk and grown again; records up to min(old, new) keep their bits.
  void SetSize(std::int32_t size);
  std::int32_t Size() const { return size_; }

  bool Test(std::int32_t recNo) const;
  void Set(std::int32_t recNo);
  void Clear(std::int32_t recNo);

  // Number of records in the set.
  std::int32_t Count() const;

  // Puts every record 1..Size() in the set.
  void SetAll();
  void ClearAll();

  // Makes this bitmap an exact copy of other (size and bits).
  void Assign(const TRecordsBitmap &other);

  // Combine with other over this bitmap's records 1..Size(); this bitmap keeps its size.
  // Records beyond other.Size() count as clear in other: And clears them here, Or leaves
  // them as they are. Records of other beyond this Size() are ignored.
  void And(const TRecordsBitmap &other);
  void Or(const TRecordsBitmap &other);

  // The n-th (n >= 1) record in the set after fromRecNo; 0 when there is none (the search
  // fails at the end) or n < 1. fromRecNo 0 (or below) means before the first record.
  std::int32_t FindNext(std::int32_t fromRecNo, std::int32_t n = 1) const;

  // The n-th (n >= 1) record in the set before fromRecNo; 0 when there is none (the search
  // fails at record 1) or n < 1. fromRecNo Size() + 1 (or above) means after the last record.
  std::int32_t FindPrior(std::int32_t fromRecNo, std::int32_t n = 1) const;

private:
  // Clears the bits of the last word that lie beyond size_.
  void ClearPadding();

  std::int32_t size_ = 0;
  std::vector<std::uint32_t> words_;
};

} // namespace nexora
