// The record-text cipher of trace files: TEA (32 rounds) in 64-bit cipher-feedback mode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tracecore {

using tea_key_t = std::array<std::uint32_t, 4>;

// One TEA block encipherment of v[0], v[1]. The ">> 5" of the round function is an arithmetic
// shift of a signed 32-bit value, as trace files written by every earlier build rely on.
void tea_encipher(std::uint32_t v[2], const tea_key_t& key) noexcept;

// The fixed key and initial value shared by the writer and the viewer.
const tea_key_t& trace_key() noexcept;
std::array<std::uint8_t, 8> trace_iv() noexcept;

// Enciphers or deciphers |n| bytes in place. Each record's text is a message of its own: the state
// starts from the initial value every time.
void cfb_encipher(std::uint8_t* data, std::size_t n) noexcept;
void cfb_decipher(std::uint8_t* data, std::size_t n) noexcept;

}  // namespace tracecore
