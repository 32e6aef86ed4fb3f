#include "crypto/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "hex_bytes.h"

namespace nexora {
namespace {

using test::HexBytes;
using test::ToHex;

using TBlock = std::array<std::uint8_t, 8>;

TBlock BlockOf(const char *hex) {
  const std::vector<std::uint8_t> bytes = HexBytes(hex);
  TBlock block{};
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

std::string Hex(const TBlock &block) { return ToHex(block.data(), block.size()); }

std::string Upper(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct VectorCase {
  const char *key;
  const char *plain;
  const char *cipher;
};

// Contexts are 4 KiB; keep them off the stack.
class BlowfishTest : public ::testing::Test {
protected:
  void Key(const std::vector<std::uint8_t> &key) { BlowfishInit(*context_, key.data(), key.size()); }
  void Key(const char *hexKey) { Key(HexBytes(hexKey)); }

  // One block from a freshly keyed context, where the chain is zero and CBC
  // therefore equals the raw cipher, and back again.
  void ExpectVector(const VectorCase &c) {
    SCOPED_TRACE(std::string("key ") + c.key + " plain " + c.plain);
    Key(c.key);
    const TBlock cipher = Encrypt(BlockOf(c.plain));
    EXPECT_EQ(Upper(Hex(cipher)), c.cipher);
    BlowfishReset(*context_);
    EXPECT_EQ(Upper(Hex(Decrypt(cipher))), c.plain);
  }

  TBlock Encrypt(TBlock block) {
    BlowfishEncryptBlock(*context_, block.data());
    return block;
  }
  TBlock Decrypt(TBlock block) {
    BlowfishDecryptBlock(*context_, block.data());
    return block;
  }

  std::unique_ptr<TBlowfishContext> context_ = std::make_unique<TBlowfishContext>();
};

// Published Blowfish test vectors with 8-byte keys.
const VectorCase EightByteKeyVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// Published key-length vectors: the first n bytes of one key (n = 1 to 24), one plaintext.
const VectorCase VariableKeyVectors[] = {
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
    {"F0E1D2", "FEDCBA9876543210", "E9C2B70A1BC65CF3"},
    {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
    {"F0E1D2C3B4", "FEDCBA9876543210", "B39E44481BDB1E6E"},
    {"F0E1D2C3B4A5", "FEDCBA9876543210", "9457AA83B1928C0D"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778", "FEDCBA9876543210", "15750E7A4F4EC577"},
    {"F0E1D2C3B4A596877869", "FEDCBA9876543210", "122BA70B3AB64AE0"},
    {"F0E1D2C3B4A5968778695A", "FEDCBA9876543210", "3A833C9AFFC537F6"},
    {"F0E1D2C3B4A5968778695A4B", "FEDCBA9876543210", "9409DA87A90F6BF2"},
    {"F0E1D2C3B4A5968778695A4B3C", "FEDCBA9876543210", "884F80625060B8B4"},
    {"F0E1D2C3B4A5968778695A4B3C2D", "FEDCBA9876543210", "1F85031C19E11968"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E", "FEDCBA9876543210", "79D9373A714CA34F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00", "FEDCBA9876543210", "03429E838CE2D14B"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011", "FEDCBA9876543210", "A4299E27469FF67B"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F001122", "FEDCBA9876543210", "AFD5AED1C1BC96A8"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00112233", "FEDCBA9876543210", "10851C0E3858DA9F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344", "FEDCBA9876543210", "E6F51ED79B9DB21F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F001122334455", "FEDCBA9876543210", "64A6E14AFD36B46F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00112233445566", "FEDCBA9876543210", "80C7D7D45A5479AD"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST_F(BlowfishTest, EightByteKeyVectors) {
  for (const VectorCase &c : EightByteKeyVectors) {
    ExpectVector(c);
  }
}

TEST_F(BlowfishTest, KeyLengthVectors) {
  for (const VectorCase &c : VariableKeyVectors) {
    ExpectVector(c);
  }
}

TEST_F(BlowfishTest, PublishedCbcVector) {
  // Published CBC example: 16-byte key, initial value FEDCBA9876543210. Our chain
  // starts at zero, so the initial value is folded into the first plaintext block.
  Key("0123456789ABCDEFF0E1D2C3B4A59687");
  const std::vector<std::uint8_t> initialValue = HexBytes("FEDCBA9876543210");
  std::vector<std::uint8_t> data = HexBytes("37363534333231204E6F77206973207468652074696D6520666F722000000000");
  for (std::size_t i = 0; i < 8; ++i)
    data[i] ^= initialValue[i];
  for (std::size_t offset = 0; offset < data.size(); offset += 8) {
    BlowfishEncryptBlock(*context_, data.data() + offset);
  }
  EXPECT_EQ(Upper(ToHex(data.data(), data.size())), "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
}

TEST_F(BlowfishTest, InitLeavesBothChainsZeroWhateverTheContextHeld) {
  std::memset(context_.get(), 0xA5, sizeof(TBlowfishContext));
  Key("0000000000000000");
  const TBlock zero{};
  EXPECT_EQ(0, std::memcmp(context_->InitialChain, zero.data(), 8));
  EXPECT_EQ(0, std::memcmp(context_->CurrentChain, zero.data(), 8));
  EXPECT_EQ(Upper(Hex(Encrypt(zero))), "4EF997456198DD78");
}

TEST_F(BlowfishTest, EqualBlocksChainToDifferentCiphertextAndDecryptInOrder) {
  Key("0123456789ABCDEFF0E1D2C3B4A59687");
  const TBlock plain = BlockOf("0011223344556677");
  const TBlock first = Encrypt(plain);
  const TBlock second = Encrypt(plain);
  EXPECT_NE(first, second);
  EXPECT_EQ(0, std::memcmp(context_->CurrentChain, second.data(), 8));

  BlowfishReset(*context_);
  EXPECT_EQ(Decrypt(first), plain);
  EXPECT_EQ(Decrypt(second), plain);

  // Out of order the chain is wrong and the second block does not come back.
  BlowfishReset(*context_);
  EXPECT_NE(Decrypt(second), plain);
}

TEST_F(BlowfishTest, ResetRestartsTheChainFromZero) {
  Key("FEDCBA9876543210");
  const TBlock plain = BlockOf("0123456789ABCDEF");
  const TBlock first = Encrypt(plain);
  BlowfishReset(*context_);
  EXPECT_EQ(Encrypt(plain), first);

  BlowfishReset(*context_);
  EXPECT_EQ(Decrypt(first), plain);
  EXPECT_EQ(0, std::memcmp(context_->CurrentChain, first.data(), 8));
  BlowfishReset(*context_);
  EXPECT_EQ(Decrypt(first), plain);
}

TEST_F(BlowfishTest, LongBufferRoundTripsAtAnyAlignment) {
  std::mt19937 random(1234);
  std::vector<std::uint8_t> original(8193);
  for (auto &byte : original)
    byte = static_cast<std::uint8_t>(random());
  Key("F0E1D2C3B4A5968778695A4B3C2D1E0F");

  // Blocks start at offset 1, so none of them is 4-byte aligned.
  std::vector<std::uint8_t> buffer = original;
  for (std::size_t offset = 1; offset + 8 <= buffer.size(); offset += 8) {
    BlowfishEncryptBlock(*context_, buffer.data() + offset);
  }
  EXPECT_EQ(buffer[0], original[0]);
  EXPECT_NE(buffer, original);

  BlowfishReset(*context_);
  for (std::size_t offset = 1; offset + 8 <= buffer.size(); offset += 8) {
    BlowfishDecryptBlock(*context_, buffer.data() + offset);
  }
  EXPECT_EQ(buffer, original);
}

TEST_F(BlowfishTest, EmptyKeyIsRejected) {
  const std::uint8_t key[1] = {0};
  EXPECT_THROW(BlowfishInit(*context_, key, 0), std::invalid_argument);
  EXPECT_THROW(BlowfishInit(*context_, nullptr, 8), std::invalid_argument);
}

} // namespace
} // namespace nexora
