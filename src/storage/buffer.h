#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace nexora {

class TBufferedFile;

// One cached buffer of a table file: a record, an index page or a BLOB block, held in
// its in-memory form. Owned by its file's cache; pinned while a caller uses it (a pinned
// buffer is never evicted) and dirty while its content differs from the file.
// Used by the thread that owns the table.
class TBuffer {
public:
  // Sizes the content to the owner's payload.
  explicit TBuffer(TBufferedFile &owner);
  virtual ~TBuffer() = default;
  TBuffer(const TBuffer &) = delete;
  TBuffer &operator=(const TBuffer &) = delete;

  // Copies number, dirty flag and content from another buffer.
  virtual void Assign(const TBuffer &other);
  // Copies content in from the start and marks the buffer dirty.
  virtual void SetData(const void *data, std::int32_t length);
  // Copies content out from the start.
  virtual void GetData(void *data, std::int32_t length) const;
  // Zeroes the content, not dirty. Pages use the index number for their key geometry.
  virtual void Clear(std::int32_t indexNumber);
  // File image (the file's buffer size in bytes) into the content; not dirty. Sets the
  // whole content: the cache does not clear a buffer it is about to load.
  virtual void LoadImage(const std::uint8_t *image);
  // Content into a file image; not dirty.
  virtual void StoreImage(std::uint8_t *image);
  virtual bool SameAs(const TBuffer &other) const;
  virtual bool SameData(const void *data, std::int32_t length) const;
  // Where the payload is the whole file image (records), the cache reads the image
  // straight into Data() and then calls this for what LoadImage does beyond the copy
  // (records of an encrypted table decipher here); not dirty.
  virtual void LoadedInPlace();

  TBufferedFile &Owner() const { return owner_; }
  std::int32_t Number() const { return number_; }
  void SetNumber(std::int32_t number) { number_ = number; }
  bool Dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  std::uint16_t PinCount() const { return pinCount_; }
  std::uint8_t *Data() { return data_.get(); }
  const std::uint8_t *Data() const { return data_.get(); }
  std::int32_t DataSize() const { return dataSize_; }

protected:
  void SetDirty(bool dirty) { dirty_ = dirty; }

private:
  friend class TBufferedFile;

  TBufferedFile &owner_;
  bool dirty_ = false;
  std::uint16_t pinCount_ = 0;
  std::int32_t number_ = 0;
  struct TFree {
    void operator()(std::uint8_t *bytes) const { std::free(bytes); }
  };
  // Cache-line aligned, so that reads straight into it copy whole lines.
  std::unique_ptr<std::uint8_t[], TFree> data_;
  std::int32_t dataSize_;
  // Links of the owner's most-recently-used list.
  TBuffer *newer_ = nullptr;
  TBuffer *older_ = nullptr;
};

} // namespace nexora
