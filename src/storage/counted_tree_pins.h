#pragma once

#include <array>
#include <utility>

#include "storage/index_file.h"

namespace nexora {

// One index page pinned in its file's cache, released when the holder goes (also when an
// error unwinds). Move-only; used by the thread that drives the tree.
class TPinnedPage {
public:
  TPinnedPage() = default;
  TPinnedPage(TIndexFile &file, TPage *page) : file_(&file), page_(page) {}
  TPinnedPage(TPinnedPage &&other) noexcept
      : file_(std::exchange(other.file_, nullptr)), page_(std::exchange(other.page_, nullptr)) {}
  TPinnedPage &operator=(TPinnedPage &&other) noexcept {
    if (this != &other) {
      Release();
      file_ = std::exchange(other.file_, nullptr);
      page_ = std::exchange(other.page_, nullptr);
    }
    return *this;
  }
  TPinnedPage(const TPinnedPage &) = delete;
  TPinnedPage &operator=(const TPinnedPage &) = delete;
  ~TPinnedPage() { Release(); }

  TPage &operator*() const { return *page_; }
  TPage *operator->() const { return page_; }

private:
  void Release() {
    if (page_ != nullptr) {
      file_->ReleaseBuffer(page_);
      page_ = nullptr;
    }
  }

  TIndexFile *file_ = nullptr;
  TPage *page_ = nullptr;
};

// The pages of a key path, root first, each pinned while the tree is being changed.
using TPathPins = std::array<TPinnedPage, MaxTreeDepth>;

} // namespace nexora
