#include <cstdlib>
#include <memory>
#include <new>

#include "crypto/blowfish.h"
#include "engine/data_engine.h"

namespace nexora {
namespace {

constexpr std::int32_t CipherBlockSize = 8;

TBlowfishContext &BuiltInContext(void *context) { return *static_cast<TBlowfishContext *>(context); }

// Runs every whole block of the buffer through one block routine, then restarts the
// chaining whatever happened, so that each buffer can be read and written on its own.
template <typename BlockRoutine>
void ChainBuffer(TDataEngine &engine, void *context, void *buffer, std::int32_t length, BlockRoutine routine) {
  auto *bytes = static_cast<std::uint8_t *>(buffer);
  const std::int32_t wholeBytes = length - length % CipherBlockSize;
  try {
    for (std::int32_t offset = 0; offset < wholeBytes; offset += CipherBlockSize) {
      routine(bytes + offset);
    }
  } catch (...) {
    engine.CryptoReset(context);
    throw;
  }
  engine.CryptoReset(context);
}

} // namespace

void FreeCryptoContext(TCryptoContext &context) {
  if (context.Size > 0) {
    std::free(context.Data);
  }
  context = {};
}

TCryptoContext TDataEngine::CryptoInit(const void *key, std::int32_t keyLength) {
  TCryptoContext context;
  if (hooks_.CryptoInit) {
    hooks_.CryptoInit(key, keyLength, context.Data, context.Size);
    return context;
  }
  std::unique_ptr<void, decltype(&std::free)> memory(std::calloc(1, BlowfishContextSize), &std::free);
  if (!memory) {
    throw std::bad_alloc();
  }
  BlowfishInit(*static_cast<TBlowfishContext *>(memory.get()), key, static_cast<std::size_t>(keyLength));
  context.Data = memory.release();
  context.Size = static_cast<std::int32_t>(BlowfishContextSize);
  return context;
}

void TDataEngine::EncryptBlock(void *context, std::uint8_t *block) {
  if (hooks_.EncryptBlock) {
    hooks_.EncryptBlock(context, block);
  } else {
    BlowfishEncryptBlock(BuiltInContext(context), block);
  }
}

void TDataEngine::DecryptBlock(void *context, std::uint8_t *block) {
  if (hooks_.DecryptBlock) {
    hooks_.DecryptBlock(context, block);
  } else {
    BlowfishDecryptBlock(BuiltInContext(context), block);
  }
}

void TDataEngine::CryptoReset(void *context) {
  if (hooks_.CryptoReset) {
    hooks_.CryptoReset(context);
  } else {
    BlowfishReset(BuiltInContext(context));
  }
}

void TDataEngine::EncryptBuffer(void *context, void *buffer, std::int32_t length) {
  ChainBuffer(*this, context, buffer, length, [&](std::uint8_t *block) { EncryptBlock(context, block); });
}

void TDataEngine::DecryptBuffer(void *context, void *buffer, std::int32_t length) {
  ChainBuffer(*this, context, buffer, length, [&](std::uint8_t *block) { DecryptBlock(context, block); });
}

} // namespace nexora
