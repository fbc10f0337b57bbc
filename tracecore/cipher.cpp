#include "tracecore/cipher.h"

#include <cstring>

namespace tracecore {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;

std::uint32_t shr5(std::uint32_t x) noexcept {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(x) >> 5);
}

std::uint32_t rotl(std::uint32_t x, unsigned r) noexcept {
  r &= 31;
  return r ? (x << r) | (x >> (32 - r)) : x;
}

tea_key_t make_key() noexcept {
  // Spelled out at run time from words of the component's own names.
  const std::uint32_t words[4] = {0x6666786bu /*kxff*/, 0x33636c69u /*cli3*/,
                                  0x33637274u /*trc3*/, 0x322e302eu /*.0.2*/};
  tea_key_t key{};
  for (unsigned i = 0; i < 4; ++i) key[i] = words[i] ^ rotl(kDelta * (i + 1), 7 * i + 3);
  return key;
}

void load(const std::uint8_t* p, std::uint32_t v[2]) noexcept {
  v[0] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  v[1] = p[4] | (p[5] << 8) | (p[6] << 16) | (static_cast<std::uint32_t>(p[7]) << 24);
}

void store(const std::uint32_t v[2], std::uint8_t* p) noexcept {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v[0] >> (8 * i));
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<std::uint8_t>(v[1] >> (8 * i));
}

template <bool kDecipher>
void cfb(std::uint8_t* data, std::size_t n) noexcept {
  const tea_key_t& key = trace_key();
  std::array<std::uint8_t, 8> state = trace_iv();
  for (std::size_t off = 0; off < n; off += 8) {
    std::uint32_t v[2];
    load(state.data(), v);
    tea_encipher(v, key);
    store(v, state.data());
    const std::size_t m = n - off < 8 ? n - off : 8;
    for (std::size_t i = 0; i < m; ++i) {
      const std::uint8_t in = data[off + i];
      data[off + i] = in ^ state[i];
      state[i] = kDecipher ? in : data[off + i];  // the cipher byte feeds back
    }
  }
}

}  // namespace

void tea_encipher(std::uint32_t v[2], const tea_key_t& k) noexcept {
  std::uint32_t v0 = v[0], v1 = v[1], sum = 0;
  for (int i = 0; i < 32; ++i) {
    sum += kDelta;
    v0 += ((v1 << 4) + k[0]) ^ (v1 + sum) ^ (shr5(v1) + k[1]);
    v1 += ((v0 << 4) + k[2]) ^ (v0 + sum) ^ (shr5(v0) + k[3]);
  }
  v[0] = v0;
  v[1] = v1;
}

const tea_key_t& trace_key() noexcept {
  static const tea_key_t key = make_key();
  return key;
}

std::array<std::uint8_t, 8> trace_iv() noexcept {
  std::array<std::uint8_t, 8> iv{};
  std::uint32_t x = 0x7C3A91E5u;
  for (auto& b : iv) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return iv;
}

void cfb_encipher(std::uint8_t* data, std::size_t n) noexcept { cfb<false>(data, n); }
void cfb_decipher(std::uint8_t* data, std::size_t n) noexcept { cfb<true>(data, n); }

}  // namespace tracecore
