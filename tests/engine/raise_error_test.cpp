#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "engine/os_error_map.h"

namespace nexora {
namespace {

// Runs the raise and hands back the exception it threw.
template <typename Raise> ENEXORAEngineError Caught(Raise raise) {
  try {
    raise();
  } catch (const ENEXORAEngineError &error) {
    return error;
  }
  ADD_FAILURE() << "nothing was raised";
  return ENEXORAEngineError(NEXORA_NONE, {});
}

class RaiseErrorTest : public ::testing::Test {
protected:
  TDataEngine engine_;
};

TEST_F(RaiseErrorTest, MessageNamesCodeAndFilledCatalogueText) {
  const auto error =
      Caught([&] { engine_.RaiseError(NEXORA_KEYVIOL, {.TableName = "customer", .IndexName = "ByName"}); });
  EXPECT_EQ(error.ErrorCode(), 9729);
  EXPECT_STREQ(error.what(),
               "NEXORA Engine Error # 9729 Duplicate key found in the index 'ByName' of the table 'customer'");
  EXPECT_EQ(error.IndexName(), "ByName");
  EXPECT_EQ(error.TableName(), "customer");
}

TEST_F(RaiseErrorTest, UnknownCodeStillRaisesWithTheFallbackText) {
  const auto error = Caught([&] { engine_.RaiseError(9999, {.TableName = "orders"}); });
  EXPECT_EQ(error.ErrorCode(), 9999);
  EXPECT_STREQ(error.what(), "NEXORA Engine Error # 9999 An unknown error occurred");
  EXPECT_EQ(TDataEngine::GetErrorConstant(9999), "");
}

TEST_F(RaiseErrorTest, EveryNameAndNumberIsCopiedIntoTheException) {
  const TErrorNames names{.ServerAddress = "a",
                          .UserName = "b",
                          .DatabaseName = "c",
                          .TableName = "d",
                          .FieldName = "e",
                          .IndexName = "f",
                          .Detail = "g",
                          .ProcedureName = "h",
                          .EventName = "i",
                          .Line = 7,
                          .Column = -2};
  const auto error = Caught([&] { engine_.RaiseError(NEXORA_SQLPARSE, names); });
  EXPECT_EQ(error.ServerAddress(), "a");
  EXPECT_EQ(error.UserName(), "b");
  EXPECT_EQ(error.DatabaseName(), "c");
  EXPECT_EQ(error.TableName(), "d");
  EXPECT_EQ(error.FieldName(), "e");
  EXPECT_EQ(error.IndexName(), "f");
  EXPECT_EQ(error.Detail(), "g");
  EXPECT_EQ(error.ProcedureName(), "h");
  EXPECT_EQ(error.EventName(), "i");
  EXPECT_EQ(error.Line(), 7);
  EXPECT_EQ(error.Column(), -2);
  EXPECT_EQ(engine_.ErrorContext().Names.Detail, "g");
}

TEST_F(RaiseErrorTest, NamesAreCutTo255AndMessageTo254) {
  const std::string longName(300, 'x');
  const auto error = Caught([&] { engine_.RaiseError(NEXORA_TABLEFULL, {.TableName = longName}); });
  EXPECT_EQ(error.TableName(), std::string(255, 'x'));
  EXPECT_EQ(engine_.GetErrorMessage(NEXORA_TABLEFULL).size(), 254u);
  const std::string prefix = "NEXORA Engine Error # 9479 ";
  EXPECT_EQ(std::string(error.what()).size(), prefix.size() + 254);
}

TEST_F(RaiseErrorTest, LastOSFailureIsCarriedByTheNextRaiseOnly) {
  errno = ENOENT;
  EXPECT_EQ(engine_.MapLastOSError(), NEXORA_OSENOENT);
  const auto first = Caught([&] { engine_.RaiseError(NEXORA_OSENOENT, {.TableName = "orders"}); });
  EXPECT_EQ(first.ErrorCode(), 11010);
  EXPECT_EQ(first.OSErrorCode(), 11010);
  EXPECT_EQ(first.TableName(), "orders");
  EXPECT_STREQ(first.what(), "NEXORA Engine Error # 11010 Table or backup file 'orders' does not exist");

  const auto second = Caught([&] { engine_.RaiseError(NEXORA_OSENOENT, {.TableName = "orders"}); });
  EXPECT_EQ(second.OSErrorCode(), 0);
}

TEST_F(RaiseErrorTest, UnmappedSystemErrorNamesItsNumber) {
  errno = ENOSPC;
  EXPECT_EQ(engine_.MapLastOSError(), NEXORA_OSUNKNOWN);
  const auto error = Caught([&] { engine_.RaiseError(NEXORA_OSUNKNOWN, {.TableName = "orders"}); });
  EXPECT_EQ(error.OSErrorCode(), 11047);
  EXPECT_EQ(error.OSErrorNumber(), ENOSPC);
  EXPECT_EQ(std::string(error.what()), "NEXORA Engine Error # 11047 An unknown operating system error " +
                                           std::to_string(ENOSPC) + " occurred with the table or backup file 'orders'");
}

TEST_F(RaiseErrorTest, SocketErrorIsCarriedOnceThenCleared) {
  engine_.SetLastSocketError(10054);
  EXPECT_EQ(Caught([&] { engine_.RaiseError(NEXORA_REMOTECOMMLOST, {.ServerAddress = "srv"}); }).SocketErrorCode(),
            10054);
  EXPECT_EQ(Caught([&] { engine_.RaiseError(NEXORA_REMOTECOMMLOST); }).SocketErrorCode(), 0);
}

TEST(OSErrorMap, MapsSystemErrorNumbersToEngineCodes) {
  struct TCase {
    int ErrorNumber;
    TErrorCode Code;
  } cases[] = {
      {ENOENT, 11010}, {ENOTDIR, 11010}, {EMFILE, 11012}, {ENFILE, 11012},  {EACCES, 11013},
      {EPERM, 11013},  {EEXIST, 11013},  {EROFS, 11013},  {ETXTBSY, 11013}, {EWOULDBLOCK, 11013},
      {EAGAIN, 11013}, {EBADF, 11014},   {ENOMEM, 11016}, {ENODEV, 11023},  {ENXIO, 11023},
      {EXDEV, 11025},  {ENOSPC, 11047},  {EIO, 11047},    {EINVAL, 11047},  {1117, 11047},
  };
  for (const TCase &c : cases) {
    EXPECT_EQ(MapOSError(c.ErrorNumber), c.Code) << c.ErrorNumber;
  }
}

TEST(ErrorCodeOf, EngineErrorsGiveTheirCodeAnythingElse11047) {
  TDataEngine engine;
  try {
    engine.RaiseError(NEXORA_NOCURRREC, {.TableName = "t"});
  } catch (const std::exception &error) {
    EXPECT_EQ(ErrorCodeOf(error), NEXORA_NOCURRREC);
    EXPECT_NE(dynamic_cast<const EDatabaseError *>(&error), nullptr);
  }
  EXPECT_EQ(ErrorCodeOf(std::runtime_error("plain")), NEXORA_OSUNKNOWN);
  EXPECT_EQ(ErrorCodeOf(EDatabaseError("framework")), NEXORA_OSUNKNOWN);
  EXPECT_EQ(ErrorCodeOf(std::bad_alloc()), NEXORA_OSUNKNOWN);
}

TEST(RaiseErrorThreads, EachExceptionCarriesTheNamesOfItsOwnRaise) {
  TDataEngine engine;
  constexpr int Rounds = 2000;
  auto raiser = [&](const std::string &table, int &mismatches) {
    for (int i = 0; i < Rounds; ++i) {
      const std::string field = table + std::to_string(i);
      try {
        engine.RaiseError(NEXORA_REQDERR, {.TableName = table, .FieldName = field});
      } catch (const ENEXORAEngineError &error) {
        const std::string expected = "NEXORA Engine Error # 9732 A value must be provided for the field '" + field +
                                     "' in the table '" + table + "'";
        if (error.TableName() != table || error.FieldName() != field || error.what() != expected) {
          ++mismatches;
        }
      }
    }
  };
  int mismatchesA = 0;
  int mismatchesB = 0;
  std::thread a(raiser, "alpha", std::ref(mismatchesA));
  std::thread b(raiser, "beta", std::ref(mismatchesB));
  a.join();
  b.join();
  EXPECT_EQ(mismatchesA, 0);
  EXPECT_EQ(mismatchesB, 0);
}

} // namespace
} // namespace nexora
