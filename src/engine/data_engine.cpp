#include "engine/data_engine.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "engine/data_session.h"
#include "platform/os/os_locales.h"
#include "support/short_text.h"

namespace nexora {
namespace {

constexpr std::uint8_t OldestCurrentVersion = 7;
constexpr std::array<const char *, 7> TableVersionNames = {"1.00", "1.02", "1.04", "1.08", "2.00", "3.00", "4.00"};

constexpr std::uint32_t GermanGermanyLocaleId = 0x0407;
constexpr std::uint32_t SortGermanPhoneBook = 1;
constexpr std::uint32_t GermanPhoneBookLocaleId = GermanGermanyLocaleId | (SortGermanPhoneBook << 16);

} // namespace

TDataEngine::TDataEngine() : limits_(ComputeEngineLimits(false)) { SetEngineSignature(DefaultEngineSignature); }

TDataEngine::~TDataEngine() {
  // Sessions close their directories and tables while the files are still registered;
  // Stop then closes whatever is left, before the file registry goes.
  std::vector<std::unique_ptr<TDataSession>> sessions;
  {
    std::lock_guard lock(sessionListLock_);
    sessions.swap(sessions_);
  }
  sessions.clear();
  Stop();
}

void TDataEngine::SetEngineSignature(std::string_view signature) {
  engineSignature_ = CutText(signature);
  signatureDigest_ = DigestText(engineSignature_);
}

void TDataEngine::Start(std::string_view lockFileName) {
  limits_ = ComputeEngineLimits(settings_.LargeFileSupport);
  {
    std::lock_guard lock(randomLock_);
    random_.seed(static_cast<std::mt19937::result_type>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                                        std::random_device{}()));
  }
  settings_.LockFileName = CutText(lockFileName);
  active_ = true;
}

void TDataEngine::Stop() {
  if (TEngineFileRegistry *registry = FileRegistry()) {
    registry->CloseAllFiles();
  }
  active_ = false;
}

TEngineFileRegistry *TDataEngine::FileRegistry() const {
  std::lock_guard lock(fileRegistryLock_);
  return fileRegistry_.get();
}

TEngineFileRegistry &TDataEngine::InstallFileRegistry(std::unique_ptr<TEngineFileRegistry> registry) {
  std::lock_guard lock(fileRegistryLock_);
  if (!fileRegistry_) {
    fileRegistry_ = std::move(registry);
  }
  return *fileRegistry_;
}

std::uint32_t TDataEngine::Random(std::uint32_t range) {
  if (range == 0) {
    return 0;
  }
  std::lock_guard lock(randomLock_);
  return std::uniform_int_distribution<std::uint32_t>(0, range - 1)(random_);
}

bool TDataEngine::IsOldTableVersion(std::uint8_t version) { return version < OldestCurrentVersion; }

TErrorCode TDataEngine::CheckTableIdentity(std::uint8_t version, const TDigest &signature) const {
  if (version != CurrentTableVersion) {
    return IsOldTableVersion(version) ? NEXORA_OLDVERSION : NEXORA_BADSIGNATURE;
  }
  static const TDigest defaultDigest = DigestText(DefaultEngineSignature);
  if (!SameDigest(signature, signatureDigest_) && !SameDigest(signature, defaultDigest)) {
    return NEXORA_BADSIGNATURE;
  }
  return NEXORA_NONE;
}

std::string TDataEngine::TableVersionName(std::uint8_t version) {
  return version < TableVersionNames.size() ? TableVersionNames[version] : "";
}

void TDataEngine::BuildLocaleList() {
  locales_.clear();
  for (const TOSLocale &os : EnumerateOSLocales()) {
    if (os.AbbreviatedName.empty()) {
      continue;
    }
    locales_.push_back(std::make_unique<TDataLocale>(os.Id, os.LanguageName, os.AbbreviatedName));
    if (os.Id == GermanGermanyLocaleId) {
      locales_.push_back(std::make_unique<TDataLocale>(GermanPhoneBookLocaleId, "German (German Phone Book)", "DEP"));
    }
  }
  std::stable_sort(locales_.begin(), locales_.end(),
                   [](const auto &a, const auto &b) { return a->LanguageName() < b->LanguageName(); });
  locales_.insert(locales_.begin(), std::make_unique<TDataLocale>(AnsiStandardLocaleId, "ANSI Standard", "ANSI"));
}

bool TDataEngine::IsLocaleAvailable(std::uint32_t localeId) {
  return localeId == AnsiStandardLocaleId || IsOSLocaleInstalled(localeId);
}

bool TDataEngine::LocaleNameExists(std::string_view languageName) const {
  return std::any_of(locales_.begin(), locales_.end(),
                     [&](const auto &locale) { return SameText(locale->LanguageName(), languageName); });
}

std::uint32_t TDataEngine::LocaleIdOf(std::string_view languageName) const {
  for (const auto &locale : locales_) {
    if (SameText(locale->LanguageName(), languageName)) {
      return locale->Id();
    }
  }
  return AnsiStandardLocaleId;
}

const TOrderTable &TDataEngine::GetLocaleOrderTable(std::uint32_t localeId) const {
  for (const auto &locale : locales_) {
    if (locale->Id() == localeId) {
      return locale->OrderTable();
    }
  }
  if (locales_.empty()) {
    // Only before BuildLocaleList: the byte order of "ANSI Standard".
    static const TDataLocale ansi(AnsiStandardLocaleId, "ANSI Standard", "ANSI");
    return ansi.OrderTable();
  }
  return locales_.front()->OrderTable();
}

std::string TDataEngine::FilterTextIndex(const std::string &tableName, const std::string &fieldName,
                                         const std::string &text) {
  std::string filtered = text;
  if (hooks_.TextIndexFilter) {
    hooks_.TextIndexFilter(tableName, fieldName, filtered);
  }
  return filtered;
}

bool TDataEngine::FilterTextIndexToken(const std::string &tableName, const std::string &fieldName,
                                       const std::string &token) {
  bool include = true;
  if (hooks_.TextIndexTokenFilter) {
    hooks_.TextIndexTokenFilter(tableName, fieldName, token, include);
  }
  return include;
}

TDataEngine &DataEngine() {
  // Never destroyed: objects torn down at process exit may still raise through it.
  static TDataEngine *engine = [] {
    auto *created = new TDataEngine();
    created->BuildLocaleList();
    return created;
  }();
  return *engine;
}

} // namespace nexora
