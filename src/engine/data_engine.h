#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/md5.h"
#include "engine/copy_stream.h"
#include "engine/data_locale.h"
#include "engine/engine_file_registry.h"
#include "engine/engine_hooks.h"
#include "engine/engine_limits.h"
#include "engine/engine_settings.h"
#include "engine/error_context.h"

namespace nexora {

class TDataSession;

// The signature every engine accepts, whatever its own: tables written under it open anywhere.
inline constexpr std::string_view DefaultEngineSignature = "NEXORA_SIG";
// The format version byte of the data, index and BLOB files of this format.
inline constexpr std::uint8_t CurrentTableVersion = 6;

// A cipher context as a password entry holds it: the memory and its size in bytes.
// A size of 0 marks a borrowed copy that must not be freed.
struct TCryptoContext {
  void *Data = nullptr;
  std::int32_t Size = 0;
};

// Frees a context that owns its memory (Size > 0) and empties it.
void FreeCryptoContext(TCryptoContext &context);

// The root of the table engine, one per process (reached through DataEngine()).
// Holds the settings, the limits fixed at Start, the locale registry, the error context,
// the user hooks and the registry of sessions it created. Settings and hooks change only while the engine is inactive,
// from one thread; every other operation may be called from any thread. The error context, the random generator, the
// session registry and each locale's order table have their own guards.
class TDataEngine {
public:
  // Sets every default, the signature digest included. BuildLocaleList follows.
  TDataEngine();
  // Frees every session still registered (closing their tables), then stops the engine.
  ~TDataEngine();
  TDataEngine(const TDataEngine &) = delete;
  TDataEngine &operator=(const TDataEngine &) = delete;

  // --- settings
  const std::string &EngineSignature() const { return engineSignature_; }
  // Stores the signature (cut to 255 characters) and recomputes its digest.
  void SetEngineSignature(std::string_view signature);
  const TDigest &SignatureDigest() const { return signatureDigest_; }
  TEngineSettings &Settings() { return settings_; }
  const TEngineSettings &Settings() const { return settings_; }
  TEngineHooks &Hooks() { return hooks_; }

  // --- lifecycle
  // Fixes the limits and lock space from LargeFileSupport, seeds the generator, stores
  // the lock file name and makes the engine active.
  void Start(std::string_view lockFileName);
  void Stop();
  bool Active() const { return active_; }
  // Valid after Start; the limits for LargeFileSupport off before it.
  const TEngineLimits &Limits() const { return limits_; }
  // A pseudo-random number in [0, range) from the generator seeded at Start.
  std::uint32_t Random(std::uint32_t range);

  // --- sessions
  // A new session with its defaults, registered and owned by the engine until FreeSession
  // or the engine's destruction.
  TDataSession &CreateSession();
  // Unregisters and frees the session; a session that is not registered (null included)
  // is left alone.
  void FreeSession(TDataSession *session);
  std::size_t SessionCount() const;

  // --- table format versions
  static bool IsOldTableVersion(std::uint8_t version);
  // "1.00" for 0 up to "4.00" for 6; "" for any other version byte.
  static std::string TableVersionName(std::uint8_t version);
  // Whether a table file's version byte and signature identify a table of this format:
  // 0; 12035 for an older version byte; 12036 for any other version, or a signature that
  // is neither this engine's nor the default one.
  TErrorCode CheckTableIdentity(std::uint8_t version, const TDigest &signature) const;

  // --- locales
  // Fills the registry: "ANSI Standard" (id 0) first, then the system's locales sorted by
  // name, with the German phone-book order after German (Germany).
  void BuildLocaleList();
  const std::vector<std::unique_ptr<TDataLocale>> &Locales() const { return locales_; }
  static bool IsLocaleAvailable(std::uint32_t localeId);
  bool LocaleNameExists(std::string_view languageName) const;
  // The id of the locale with that name (case-insensitive), 0 when none has it.
  std::uint32_t LocaleIdOf(std::string_view languageName) const;
  // The order table of the locale with that id, or of "ANSI Standard" when none has it.
  const TOrderTable &GetLocaleOrderTable(std::uint32_t localeId) const;

  // --- errors
  // Raises ENEXORAEngineError carrying the code, the names (each cut to 255 characters),
  // the last operating-system failure and the last socket error, which it then clears.
  [[noreturn]] void RaiseError(TErrorCode code, const TErrorNames &names = {});
  // The code's message filled from the current error context, at most 254 characters.
  std::string GetErrorMessage(TErrorCode code) const;
  static std::string GetErrorConstant(TErrorCode code);
  // Maps errno to an engine code, stores it as the last operating-system failure and
  // returns it. File-layer operations call it on every failed system call.
  TErrorCode MapLastOSError();
  // The remote path records its socket error here before it fails.
  void SetLastSocketError(std::int32_t socketError) { lastSocketError_ = socketError; }
  // A copy of the error context as the last raise left it.
  TErrorContext ErrorContext() const;

  // --- encryption (each calls its hook when set, else the built-in Blowfish)
  TCryptoContext CryptoInit(const void *key, std::int32_t keyLength);
  void EncryptBlock(void *context, std::uint8_t *block);
  void DecryptBlock(void *context, std::uint8_t *block);
  void CryptoReset(void *context);
  // Whole 8-byte blocks are chained in place; the tail of length mod 8 stays clear; the
  // chaining is reset afterwards, also when a block routine raises.
  void EncryptBuffer(void *context, void *buffer, std::int32_t length);
  void DecryptBuffer(void *context, void *buffer, std::int32_t length);

  // --- compression (each calls its hook when set, else zlib); any failure raises
  // 15001 (compress) or 15002 (decompress) with no names
  std::vector<std::uint8_t> Compress(const void *input, std::int32_t length, std::uint8_t level);
  std::vector<std::uint8_t> Decompress(const void *input, std::int32_t length);

  // --- compressed file copies (marker, level byte, length-prefixed zlib chunks)
  // Copies the whole source to the start of the destination; level 0 copies raw bytes.
  void CompressCopy(TCopyStream &source, TCopyStream &destination, std::uint8_t level, int progressStep,
                    const TCopyProgress &progress);
  // Restores a whole copy from the start of the source to the start of the destination.
  void DecompressCopy(TCopyStream &source, TCopyStream &destination, int progressStep, const TCopyProgress &progress);
  // As CompressCopy, writing at the destination's current position.
  void CompressInto(TCopyStream &source, TCopyStream &destination, std::uint8_t level, int progressStep,
                    const TCopyProgress &progress);
  // Restores one member of length bytes from the source's current position.
  void DecompressFrom(TCopyStream &source, TCopyStream &destination, std::int64_t length, int progressStep,
                      const TCopyProgress &progress);
  // Reads past one member of length bytes without writing it.
  void SkipCompressed(TCopyStream &source, std::int64_t length);

  // --- trigger and error hooks, called by the writing cursor; each runs with the
  // session's callback flag set, restored afterwards also when the hook raises
  // Nothing happens without a trigger hook.
  void CallTriggerHook(TTriggerKind kind, TDataSession &session, std::uint8_t *imageA, std::uint8_t *imageB,
                       std::int32_t recordNumber, TDataCursor *cursor, TDataDirectory *directory);
  // The hook's decision; daFail without an error hook.
  TDataAction CallErrorHook(TErrorHookKind kind, TDataSession &session, const std::exception &error,
                            std::uint8_t *recordImage, std::int32_t recordNumber, TDataCursor *cursor,
                            TDataDirectory *directory);

  // --- file registry
  // The registry of open files, installed once by the storage layer on first use; null
  // until then. InstallFileRegistry keeps the first registry and returns it.
  TEngineFileRegistry *FileRegistry() const;
  TEngineFileRegistry &InstallFileRegistry(std::unique_ptr<TEngineFileRegistry> registry);

  // --- text-index filters (hook when set, else the text unchanged and every word kept)
  std::string FilterTextIndex(const std::string &tableName, const std::string &fieldName, const std::string &text);
  bool FilterTextIndexToken(const std::string &tableName, const std::string &fieldName, const std::string &token);

private:
  std::string engineSignature_;
  TDigest signatureDigest_{};
  TEngineSettings settings_;
  TEngineLimits limits_;
  bool active_ = false;
  TEngineHooks hooks_;
  std::vector<std::unique_ptr<TDataLocale>> locales_;

  mutable std::mutex sessionListLock_;
  std::vector<std::unique_ptr<TDataSession>> sessions_;

  mutable std::mutex fileRegistryLock_;
  std::unique_ptr<TEngineFileRegistry> fileRegistry_;

  std::mutex randomLock_;
  std::mt19937 random_;

  mutable std::mutex errorLock_;
  TErrorContext errorContext_;
  std::atomic<std::int32_t> lastOSError_{0};
  std::atomic<std::int32_t> lastOSErrorNumber_{0};
  std::atomic<std::int32_t> lastSocketError_{0};
};

// The process's engine object, created with its locale list on first use.
TDataEngine &DataEngine();

} // namespace nexora
