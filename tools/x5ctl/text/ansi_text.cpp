// Windows-1252 <-> UTF-8 conversion and visible quoting of protocol text.
#include "x5ctl/text/ansi_text.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace x5::ctl::text {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the undefined ones keep their own value.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CodePointOf(uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F)
    return kHighControls[byte - 0x80];
  return byte;
}

bool IsUndefinedByte(uint8_t byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Hex2(uint8_t byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02X", byte);
  return buffer;
}

// Decodes one UTF-8 sequence at `pos`; returns false on malformed input.
bool NextCodePoint(std::string_view s, size_t& pos, char32_t& cp) {
  auto lead = static_cast<uint8_t>(s[pos]);
  size_t extra = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    ++pos;
    return true;
  }
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (pos + extra >= s.size())
    return false;
  for (size_t i = 1; i <= extra; ++i) {
    auto b = static_cast<uint8_t>(s[pos + i]);
    if ((b & 0xC0) != 0x80)
      return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return false;
  pos += extra + 1;
  return true;
}

}  // namespace

core::Result<std::string> AnsiFromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t start = pos;
    char32_t cp = 0;
    if (!NextCodePoint(utf8, pos, cp)) {
      return core::Failure{"malformed UTF-8 at byte " + std::to_string(start + 1)};
    }
    if (cp <= 0xFF) {
      out += static_cast<char>(cp);
      continue;
    }
    bool found = false;
    for (size_t i = 0; i < kHighControls.size(); ++i) {
      if (kHighControls[i] == cp) {
        out += static_cast<char>(0x80 + i);
        found = true;
        break;
      }
    }
    if (!found) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
      return core::Failure{std::string("character ") + buffer +
                           " has no ANSI (Windows-1252) byte; write bytes as \\u0000..\\u00FF"};
    }
  }
  return out;
}

std::string Utf8FromAnsi(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes)
    AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
  return out;
}

std::string VisibleText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F || IsUndefinedByte(b))
      out += "\\x" + Hex2(b);
    else
      AppendUtf8(out, CodePointOf(b));
  }
  return out;
}

std::string TerminalText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    char32_t cp = 0;
    if (!NextCodePoint(utf8, pos, cp)) {
      out += "\\x" + Hex2(static_cast<uint8_t>(utf8[start]));
      pos = start + 1;
    } else if (cp < 0x20 || cp == 0x7F) {
      out += "\\x" + Hex2(static_cast<uint8_t>(cp));
    } else if (cp >= 0x80 && cp <= 0x9F) {
      out += "\\u00" + Hex2(static_cast<uint8_t>(cp));
    } else {
      out.append(utf8.substr(start, pos - start));
    }
  }
  return out;
}

std::string ProblemLine(std::string_view message) {
  return "x5ctl: " + TerminalText(message) + "\n";
}

std::string QuotedText(std::string_view bytes) {
  std::string out = "\"";
  for (char c : VisibleText(bytes)) {
    if (c == '"')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string TomlString(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto b = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      out += "\\u00" + Hex2(b);
    }
  }
  return out + "\"";
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < line.size()) {
    size_t start = line.find_first_not_of(" \t\r\n", pos);
    if (start == std::string_view::npos)
      break;
    size_t end = line.find_first_of(" \t\r\n", start);
    if (end == std::string_view::npos)
      end = line.size();
    words.push_back(line.substr(start, end - start));
    pos = end;
  }
  return words;
}

std::vector<std::string> CrLfLines(std::string_view text, bool keep_last) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) {
      if (start < text.size() || keep_last)
        lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace x5::ctl::text
