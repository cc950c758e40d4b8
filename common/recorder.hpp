// The recorder header as the converters and the file tools read it: byte
// classes and the header's tokens. The blocks after the header, their
// decoders and encoders are the recorder library's (recorder/blocks.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "calendar.hpp"
#include "io.hpp"

namespace vorn {

// Bytes with the top bit set open a block; the others are data bytes.
inline bool is_type_byte(int b) { return (b & 0x80) != 0; }
inline constexpr uint8_t kFillByte = 0xF0;

// The tokens of a recorder header, collected byte by byte: at most 100
// tokens of at most 999 characters; what lies beyond is dropped, every
// separator is still counted.
class HeaderTokens {
public:
    static constexpr std::size_t kMaxTokens = 100;
    static constexpr std::size_t kMaxTokenLength = 999;

    HeaderTokens();
    void clear();
    // Appends a byte to the current token (a NUL adds nothing).
    void add(char c);
    // A separator ends the current token.
    void separator();
    // Number of separators seen (the current token is number separators()).
    int64_t separators() const { return separators_; }
    // Token k, empty when k lies beyond the tokens kept.
    std::string_view token(int64_t k) const;

    // Calls f(name, value) for the pairs k = 0 .. separators()/2: token 2k
    // is the name, token 2k+1 the value. Pairs beyond the tokens kept have
    // empty names, which name nothing: they are not visited.
    template <class F>
    void for_each_pair(F&& f) const {
        const int64_t last = separators_ / 2 < int64_t{kMaxTokens} / 2 ? separators_ / 2 : int64_t{kMaxTokens} / 2;
        for (int64_t k = 0; k <= last; ++k) f(token(2 * k), token(2 * k + 1));
    }

private:
    std::array<std::string, kMaxTokens> tokens_;
    int64_t separators_ = 0;
};

// One header byte under the recorder's rules: 0xF0 is skipped; 0x80, 0xC0
// and 0xCF end the header without being text; a space becomes "_"; "=" and
// ";" are separators; any other byte is text, and another type byte ends the
// header after being appended. Returns true when b ends the header.
bool header_byte(HeaderTokens& tokens, uint8_t b);

}  // namespace vorn
