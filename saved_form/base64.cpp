// Base64 for the bytes and pictures of saved forms (RFC 4648).
#include "flipreel/saved_form/saved_form.h"

namespace flipreel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(n >> s) & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    const uint32_t n = (byte(i) << 16) | (rest == 2 ? byte(i + 1) << 8 : 0);
    out.push_back(kAlphabet[(n >> 18) & 63]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4) return false;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 3] != '=') return false;  // "x=y=" is not padding
    uint32_t n = 0;
    for (int k = 0; k < 4 - pad; ++k) {
      const int s = Sextet(text[i + k]);
      if (s < 0) return false;
      n |= static_cast<uint32_t>(s) << (18 - 6 * k);
    }
    // The bits padding leaves out must be zero, so every text decodes from
    // exactly one encoding.
    if ((pad == 1 && (n & 0xFF)) || (pad == 2 && (n & 0xFFFF))) return false;
    bytes.push_back(static_cast<char>(n >> 16));
    if (pad < 2) bytes.push_back(static_cast<char>(n >> 8));
    if (pad < 1) bytes.push_back(static_cast<char>(n));
  }
  return true;
}

}  // namespace flipreel
