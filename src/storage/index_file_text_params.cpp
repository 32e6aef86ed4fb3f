#include <unordered_set>

#include "storage/index_file.h"

namespace nexora {

namespace {

// Holds one pinned page and releases it when replaced or destroyed.
class TPagePin {
public:
  TPagePin(TIndexFile &file, TPage *page) : file_(file), page_(page) {}
  ~TPagePin() { file_.ReleaseBuffer(page_); }
  TPagePin(const TPagePin &) = delete;
  TPagePin &operator=(const TPagePin &) = delete;

  TPage *operator->() const { return page_; }
  TPage *Get() const { return page_; }
  void Reset(TPage *page) {
    file_.ReleaseBuffer(page_);
    page_ = page;
  }

private:
  TIndexFile &file_;
  TPage *page_;
};

} // namespace

TTextIndexParams TIndexFile::ReadTextIndexParams() {
  const std::int32_t first = DataRoot(TextIndexSlot);
  if (first == 0) {
    return TTextIndexParams::Defaults();
  }
  TPagePin current(*this, nullptr);
  std::unordered_set<std::int32_t> seen;
  const std::function<const std::uint8_t *()> nextPayload = [&]() -> const std::uint8_t * {
    const std::int32_t n = current.Get() == nullptr ? first : current->Next();
    if (n == 0) {
      return nullptr;
    }
    // A chain that comes back to one of its pages never ends.
    if (!seen.insert(n).second) {
      RaiseCorrupt();
    }
    current.Reset(PinRawPage(n));
    return current->Data();
  };
  std::optional<TTextIndexParams> params = UnpackTextIndexParams(GetPayloadSize(), nextPayload);
  if (!params) {
    RaiseCorrupt();
  }
  return std::move(*params);
}

void TIndexFile::WriteTextIndexParams(const TTextIndexParams &params) {
  const std::vector<std::vector<std::uint8_t>> payloads = PackTextIndexParams(params, GetPayloadSize());
  const std::int32_t first = DataRoot(TextIndexSlot);
  TPagePin page(*this, first != 0 ? PinRawPage(first) : AllocatePage(TextIndexSlot));
  if (first == 0) {
    SetDataRoot(TextIndexSlot, page->Number());
  }
  std::unordered_set<std::int32_t> seen{page->Number()};
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    page->SetKind(TPageKind::Raw);
    page->SetData(payloads[i].data(), static_cast<std::int32_t>(payloads[i].size()));
    if (i + 1 == payloads.size()) {
      break;
    }
    const std::int32_t next = page->Next();
    if (next != 0 && !seen.insert(next).second) {
      RaiseCorrupt();
    }
    TPage *following = next != 0 ? PinRawPage(next) : AllocatePage(TextIndexSlot);
    page->SetNext(following->Number());
    seen.insert(following->Number());
    page.Reset(following);
  }
}

} // namespace nexora
