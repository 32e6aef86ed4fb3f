#include "cli/text_codec.h"

#include <array>
#include <cstdint>

#include "platform/os/windows1252.h"

namespace nexora::cli {

namespace {

constexpr std::string_view Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The code points of UTF-8 text; nothing when it is not valid UTF-8.
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
  std::u32string points;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0) {
      return std::nullopt;
    }
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      if (i + static_cast<std::size_t>(k) >= text.size()) {
        return std::nullopt;
      }
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) {
        return std::nullopt;
      }
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return std::nullopt;
    }
    points.push_back(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return points;
}

} // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  const std::optional<std::u32string> points = DecodeUtf8(text);
  if (!points) {
    return std::nullopt;
  }
  std::u16string units;
  for (const char32_t c : *points) {
    if (c < 0x10000) {
      units.push_back(static_cast<char16_t>(c));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return units;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view text) {
  const std::optional<std::u16string> units = Utf8ToUtf16(text);
  if (!units) {
    return std::nullopt;
  }
  std::string bytes;
  for (const char16_t unit : *units) {
    const std::optional<char> byte = Windows1252Byte(unit);
    if (!byte) {
      return std::nullopt;
    }
    bytes.push_back(*byte);
  }
  return bytes;
}

std::string Windows1252ToUtf8(std::string_view bytes) { return Utf16ToUtf8(Windows1252ToUtf16(bytes)); }

std::string Base64Encode(const std::vector<std::uint8_t> &bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t chunk = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                (i + 1 < bytes.size() ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0) |
                                (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out.push_back(Base64Alphabet[(chunk >> 18) & 0x3F]);
    out.push_back(Base64Alphabet[(chunk >> 12) & 0x3F]);
    out.push_back(i + 1 < bytes.size() ? Base64Alphabet[(chunk >> 6) & 0x3F] : '=');
    out.push_back(i + 2 < bytes.size() ? Base64Alphabet[chunk & 0x3F] : '=');
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t chunk = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      std::uint32_t value = 0;
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++padding;
      } else {
        const std::size_t at = Base64Alphabet.find(c);
        if (at == std::string_view::npos || padding > 0) {
          return std::nullopt;
        }
        value = static_cast<std::uint32_t>(at);
      }
      chunk = chunk << 6 | value;
    }
    bytes.push_back(static_cast<std::uint8_t>(chunk >> 16));
    if (padding < 2) {
      bytes.push_back(static_cast<std::uint8_t>(chunk >> 8));
    }
    if (padding < 1) {
      bytes.push_back(static_cast<std::uint8_t>(chunk));
    }
  }
  return bytes;
}

} // namespace nexora::cli
