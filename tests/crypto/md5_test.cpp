#include "crypto/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "hex_bytes.h"

namespace nexora {
namespace {

using test::ToHex;

std::string Hex(const TDigest &digest) { return ToHex(digest.data(), digest.size()); }

TEST(MD5, DigestTextGivesTheRfc1321TestSuite) {
  struct Case {
    const char *text;
    const char *digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Hex(DigestText(c.text)), c.digest);
  }
}

TEST(MD5, DigestTextTakesEveryByteOfTheText) {
  // An embedded zero and high bytes are message bytes like any other.
  const std::string text("a\0b\xFF", 4);
  EXPECT_EQ(Hex(DigestText(text)), Hex(DigestBytes(text.data(), 4)));
  EXPECT_NE(Hex(DigestText(text)), Hex(DigestText("a")));
}

// Message of `length` bytes: byte i is (37 i + 11) mod 256.
std::vector<std::uint8_t> PatternMessage(std::size_t length) {
  std::vector<std::uint8_t> message(length);
  for (std::size_t i = 0; i < length; ++i) {
    message[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  return message;
}

// Digests of PatternMessage, computed independently with Python's hashlib.
struct LengthCase {
  std::size_t length;
  const char *digest;
};
const LengthCase LengthCases[] = {
    {0, "d41d8cd98f00b204e9800998ecf8427e"},    {1, "13c8ffd977013703a701cf8e11deac65"},
    {55, "d872aa0473a24da995ce4ac518ade767"},   {56, "e23567645846677c205de80f9779081b"},
    {57, "1fe5e4a27e12484d7203d0b60c21c51f"},   {63, "4775b66278a8fc132ff80923378216cd"},
    {64, "71e123b70c7aa64826fcfe472694cd1c"},   {65, "5949948f26e35203661075214faa3966"},
    {119, "87f72c7241c5fe218bb4df8c0aba3232"},  {120, "bf240b8b7407fba3805adeec63a03b77"},
    {127, "520bdc2dbab7c25d64263ffb242d9e98"},  {128, "3e93b378458b77da96b2357c3bda8cc2"},
    {1000, "c3cb8ae118768782aa1896d7fb2827ef"}, {4099, "d8b8e2786114ce335c4afb5b5ab9db05"},
};

TEST(MD5, PaddingBoundariesMatchKnownDigests) {
  for (const LengthCase &c : LengthCases) {
    SCOPED_TRACE(c.length);
    const std::vector<std::uint8_t> message = PatternMessage(c.length);
    EXPECT_EQ(Hex(DigestBytes(message.data(), message.size())), c.digest);

    // The same bytes starting at an odd address.
    std::vector<std::uint8_t> shifted(c.length + 1);
    std::copy(message.begin(), message.end(), shifted.begin() + 1);
    EXPECT_EQ(Hex(DigestBytes(shifted.data() + 1, c.length)), c.digest);
  }
}

TEST(MD5, IncrementalFormInUnevenPiecesMatchesOneShot) {
  const std::size_t pieceSizes[] = {1, 3, 0, 7, 13, 64, 31, 65, 2, 130};
  for (const LengthCase &c : LengthCases) {
    SCOPED_TRACE(c.length);
    const std::vector<std::uint8_t> message = PatternMessage(c.length);
    TMD5 md5;
    std::size_t offset = 0;
    for (std::size_t piece = 0; offset < message.size(); ++piece) {
      const std::size_t take = std::min(pieceSizes[piece % std::size(pieceSizes)], message.size() - offset);
      md5.Add(message.data() + offset, take);
      offset += take;
    }
    EXPECT_EQ(Hex(md5.Finish()), c.digest);
  }
}

TEST(MD5, FinishStartsANewMessage) {
  TMD5 md5;
  md5.Add("message digest", 14);
  EXPECT_EQ(Hex(md5.Finish()), "f96b697d7cb7938d525a2f31aaf161d0");
  md5.Add("abc", 3);
  EXPECT_EQ(Hex(md5.Finish()), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(md5.Finish()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, NullBufferOfZeroLengthIsTheEmptyMessage) {
  EXPECT_EQ(Hex(DigestBytes(nullptr, 0)), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, SameDigestComparesAllSixteenBytes) {
  const TDigest digest = DigestText("abc");
  EXPECT_TRUE(SameDigest(digest, DigestText("abc")));
  EXPECT_FALSE(SameDigest(digest, DigestText("abd")));
  for (std::size_t position : {0u, 5u, 10u, 15u}) {
    SCOPED_TRACE(position);
    TDigest other = digest;
    other[position] ^= 0x01;
    EXPECT_FALSE(SameDigest(digest, other));
    EXPECT_FALSE(SameDigest(other, digest));
  }
}

} // namespace
} // namespace nexora
