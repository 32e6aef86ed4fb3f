// Compressed file copies. Layout, integers little-endian:
//   offset 0   16 bytes  marker, the MD5 digest of "NEXORA_COMP"
//   offset 16   1 byte   compression level, 1 to 9
//   offset 17  chunks    each a signed 32-bit length L, then L bytes of one zlib stream
// Each chunk compresses one read of at most 65536 source bytes. A copy made with level 0
// has neither marker nor chunks: it is the source bytes unchanged.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "engine/data_engine.h"

namespace nexora {
namespace {

constexpr std::int32_t CopyChunkSize = 65536;
constexpr std::int32_t CompressedReadBufferSize = 131072;
constexpr std::int32_t MarkerSize = 16;
constexpr std::int32_t CopyHeaderSize = MarkerSize + 1;
constexpr std::int32_t ChunkLengthSize = 4;

const TDigest &CopyMarker() {
  static const TDigest marker = DigestText("NEXORA_COMP");
  return marker;
}

// Reports a percentage of work done against a reference size whenever it has moved by
// at least the progress step since the last report.
class TProgressTracker {
public:
  TProgressTracker(const TCopyProgress &progress, std::string fileName, int step)
      : progress_(progress), fileName_(std::move(fileName)), step_(step) {}

  void Start(std::int64_t reference) {
    reference_ = reference;
    Report(0);
  }

  void Advance(std::int64_t done) {
    // Nothing to measure against: an empty source has only its 0 and 100 reports.
    if (!progress_ || reference_ <= 0) {
      return;
    }
    const auto percent = static_cast<int>(std::llround(static_cast<double>(done) * 100.0 / reference_));
    if (percent >= last_ + step_) {
      Report(percent);
    }
  }

  void Finish() { Report(100); }

private:
  void Report(int percent) {
    last_ = percent;
    if (progress_) {
      progress_(fileName_, percent);
    }
  }

  const TCopyProgress &progress_;
  std::string fileName_;
  int step_;
  std::int64_t reference_ = 0;
  int last_ = 0;
};

void WriteChunkLength(TCopyStream &destination, std::int32_t length) {
  std::array<std::uint8_t, ChunkLengthSize> bytes{};
  for (int i = 0; i < ChunkLengthSize; ++i) {
    bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(length) >> (8 * i));
  }
  destination.Write(bytes.data(), ChunkLengthSize);
}

// The next chunk length, or 0 at the end of the source.
std::int32_t ReadChunkLength(TCopyStream &source) {
  std::array<std::uint8_t, ChunkLengthSize> bytes{};
  if (source.Read(bytes.data(), ChunkLengthSize) != ChunkLengthSize) {
    return 0;
  }
  std::uint32_t value = 0;
  for (int i = 0; i < ChunkLengthSize; ++i) {
    value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  }
  return static_cast<std::int32_t>(value);
}

// The level of the copy that starts at the source's position, after its marker and
// level byte; 0 with the source back at the start when there is no marker.
std::uint8_t ReadCopyHeader(TCopyStream &source, bool &hasHeader) {
  const std::int64_t start = source.Position();
  std::array<std::uint8_t, MarkerSize> marker{};
  std::uint8_t level = 0;
  hasHeader = source.Read(marker.data(), MarkerSize) == MarkerSize &&
              std::memcmp(marker.data(), CopyMarker().data(), MarkerSize) == 0 && source.Read(&level, 1) == 1;
  if (!hasHeader) {
    source.Seek(start);
    return 0;
  }
  return level;
}

// How a member is read back: where its bytes go (nothing when skipping), how many
// bytes it restores (negative for all up to the end of the source), and which count
// the progress follows.
struct TRestoreTarget {
  TCopyStream *Destination;
  std::int64_t Length;
  bool ProgressByCompressedBytes;
};

void RestoreMember(TDataEngine &engine, TCopyStream &source, const TRestoreTarget &target, TProgressTracker *tracker) {
  bool hasHeader = false;
  const std::uint8_t level = ReadCopyHeader(source, hasHeader);
  const bool limited = target.Length >= 0;
  if (tracker != nullptr) {
    tracker->Start(target.ProgressByCompressedBytes ? source.Size() - (hasHeader ? CopyHeaderSize : 0) : target.Length);
  }
  std::int64_t restored = 0;
  std::int64_t consumed = 0;
  auto advance = [&] {
    if (tracker != nullptr) {
      tracker->Advance(target.ProgressByCompressedBytes ? consumed : restored);
    }
  };

  if (level != 0) {
    std::vector<std::uint8_t> buffer(CompressedReadBufferSize);
    while (!limited || restored < target.Length) {
      const std::int32_t chunkLength = ReadChunkLength(source);
      if (chunkLength < 1) {
        break;
      }
      // A length beyond what the source still holds is damage, not a reason to allocate.
      if (chunkLength > source.Size() - source.Position()) {
        engine.RaiseError(NEXORA_UNCOMPRESS);
      }
      if (static_cast<std::size_t>(chunkLength) > buffer.size()) {
        buffer.resize(static_cast<std::size_t>(chunkLength));
      }
      if (source.Read(buffer.data(), chunkLength) != chunkLength) {
        engine.RaiseError(NEXORA_UNCOMPRESS);
      }
      const std::vector<std::uint8_t> chunk = engine.Decompress(buffer.data(), chunkLength);
      if (target.Destination != nullptr) {
        target.Destination->Write(chunk.data(), static_cast<std::int32_t>(chunk.size()));
      }
      restored += static_cast<std::int64_t>(chunk.size());
      consumed += ChunkLengthSize + chunkLength;
      advance();
    }
    return;
  }

  std::vector<std::uint8_t> buffer(CopyChunkSize);
  while (!limited || restored < target.Length) {
    const auto piece = static_cast<std::int32_t>(
        limited ? std::min<std::int64_t>(CopyChunkSize, target.Length - restored) : CopyChunkSize);
    const std::int32_t read = source.Read(buffer.data(), piece);
    if (read <= 0) {
      break;
    }
    if (target.Destination != nullptr) {
      target.Destination->Write(buffer.data(), read);
    }
    restored += read;
    consumed += read;
    advance();
  }
}

} // namespace

void TDataEngine::CompressCopy(TCopyStream &source, TCopyStream &destination, std::uint8_t level, int progressStep,
                               const TCopyProgress &progress) {
  destination.Seek(0);
  CompressInto(source, destination, level, progressStep, progress);
}

void TDataEngine::CompressInto(TCopyStream &source, TCopyStream &destination, std::uint8_t level, int progressStep,
                               const TCopyProgress &progress) {
  TProgressTracker tracker(progress, source.FileName(), progressStep);
  tracker.Start(source.Size());
  if (level != 0) {
    destination.Write(CopyMarker().data(), MarkerSize);
    destination.Write(&level, 1);
  }
  source.Seek(0);
  std::vector<std::uint8_t> buffer(CopyChunkSize);
  std::int64_t readSoFar = 0;
  std::int32_t read = 0;
  do {
    read = source.Read(buffer.data(), CopyChunkSize);
    if (read > 0) {
      if (level != 0) {
        const std::vector<std::uint8_t> chunk = Compress(buffer.data(), read, level);
        WriteChunkLength(destination, static_cast<std::int32_t>(chunk.size()));
        destination.Write(chunk.data(), static_cast<std::int32_t>(chunk.size()));
      } else {
        destination.Write(buffer.data(), read);
      }
      readSoFar += read;
      tracker.Advance(readSoFar);
    }
  } while (read == CopyChunkSize);
  tracker.Finish();
}

void TDataEngine::DecompressCopy(TCopyStream &source, TCopyStream &destination, int progressStep,
                                 const TCopyProgress &progress) {
  TProgressTracker tracker(progress, source.FileName(), progressStep);
  source.Seek(0);
  destination.Seek(0);
  RestoreMember(*this, source, {&destination, -1, true}, &tracker);
  tracker.Finish();
}

void TDataEngine::DecompressFrom(TCopyStream &source, TCopyStream &destination, std::int64_t length, int progressStep,
                                 const TCopyProgress &progress) {
  TProgressTracker tracker(progress, source.FileName(), progressStep);
  RestoreMember(*this, source, {&destination, length, false}, &tracker);
  tracker.Finish();
}

void TDataEngine::SkipCompressed(TCopyStream &source, std::int64_t length) {
  RestoreMember(*this, source, {nullptr, length, false}, nullptr);
}

} // namespace nexora
