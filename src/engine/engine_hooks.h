#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace nexora {

class TDataSession;
class TDataCursor;
class TDataDirectory;

// User routines that replace the engine's built-in operations. Each hook is empty by
// default; an empty hook means the built-in behaviour. The engine component installs
// them (binding itself as the sender) while the engine is inactive.

// Replaces the cipher's key set-up. outData must come from std::malloc when
// outDataBytes > 0: the owning password entry frees it with std::free.
using TCryptoInitHook =
    std::function<void(const void *key, std::int32_t keyLen, void *&outData, std::int32_t &outDataBytes)>;
// Encrypts or decrypts one 8-byte block in place with the context from the init hook.
using TCryptoBlockHook = std::function<void(void *data, void *blockBuffer)>;
// Restarts the chaining of a context.
using TCryptoResetHook = std::function<void(void *data)>;

// Replace the built-in zlib routines; the hook fills outBuffer with the whole result.
using TCompressHook = std::function<void(const void *inBuffer, std::int32_t inBytes, std::uint8_t level,
                                         std::vector<std::uint8_t> &outBuffer)>;
using TDecompressHook =
    std::function<void(const void *inBuffer, std::int32_t inBytes, std::vector<std::uint8_t> &outBuffer)>;

// Text-index filters: the first may rewrite a field's text before it is split into
// words, the second decides whether one word is indexed.
using TTextIndexFilterHook =
    std::function<void(const std::string &tableName, const std::string &fieldName, std::string &text)>;
using TTextIndexTokenFilterHook = std::function<void(const std::string &tableName, const std::string &fieldName,
                                                     const std::string &token, bool &include)>;

// What the writing cursor reports around an insert, update or delete.
enum class TTriggerKind : std::uint8_t {
  BeforeInsert = 0,
  AfterInsert = 1,
  BeforeUpdate = 2,
  AfterUpdate = 3,
  BeforeDelete = 4,
  AfterDelete = 5,
};

// Which write failed.
enum class TErrorHookKind : std::uint8_t { Insert = 0, Update = 1, Delete = 3 };

// What the error hook decides: re-raise, end silently, or run the write again.
enum class TDataAction : std::uint8_t { daFail = 0, daAbort = 1, daRetry = 2 };

using TTriggerHook =
    std::function<void(TTriggerKind kind, TDataSession *session, std::uint8_t *imageA, std::uint8_t *imageB,
                       std::int32_t recordNumber, TDataCursor *cursor, TDataDirectory *directory)>;
using TErrorHook = std::function<void(TErrorHookKind kind, TDataSession *session, TDataAction &action,
                                      const std::exception &error, std::uint8_t *recordImage, std::int32_t recordNumber,
                                      TDataCursor *cursor, TDataDirectory *directory)>;

// Every hook the engine object holds.
struct TEngineHooks {
  TCryptoInitHook CryptoInit;
  TCryptoBlockHook EncryptBlock;
  TCryptoBlockHook DecryptBlock;
  TCryptoResetHook CryptoReset;
  TCompressHook Compress;
  TDecompressHook Decompress;
  TTextIndexFilterHook TextIndexFilter;
  TTextIndexTokenFilterHook TextIndexTokenFilter;
  TTriggerHook Trigger;
  TErrorHook Error;
};

} // namespace nexora
