// The integer scanners of the text stages. Byte 0 chooses the reader's
// buffer size; each line of the rest is read field by field, as a sample
// line and as a grid line. The one-pass reader agrees with a plain
// reference (whole token, then std::from_chars), the all-at-once reader of
// plain lines with the field-by-field one, and every number accepted prints
// back to the same value.
#include <string>

#include "axisturn.hpp"
#include "decimal.hpp"
#include "harness.hpp"
#include "textlines.hpp"
#include "textparse.hpp"

namespace {

using namespace vorn;
using namespace vorn::fuzz;

template <class T>
void fields_agree(std::string_view line) {
    FieldCursor fast(line);
    FieldCursor tokens(line);
    for (int k = 0; k < 12; ++k) {
        T a = 0, b = 0;
        std::string_view tok;
        const bool ra = fast.integer(a);
        const bool rb = tokens.token(tok) && FieldCursor::parse_integer(tok, b);
        if (ra != rb) broken("the one-pass reader and the reference disagree on a field", line);
        if (!ra) return;
        if (a != b) broken("the one-pass reader and the reference read other values", line);
        char text[32];
        char* e = put_int(text, a);
        T back = 0;
        if (!FieldCursor::parse_integer(std::string_view(text, static_cast<std::size_t>(e - text)), back) || back != a)
            broken("a number does not print back to its value", line);
    }
}

bool same(const SampleLine& a, const SampleLine& b, int ch) {
    if (a.n != b.n || a.sec != b.sec || a.usec != b.usec) return false;
    for (int c = 0; c < ch; ++c)
        if (a.v[c] != b.v[c]) return false;
    return true;
}

void sample_lines_agree(PaddedLine line) {
    for (int ch = 1; ch <= 3; ++ch) {
        SampleLine padded, plain;
        const bool rp = parse_sample_line(line, ch, padded);
        const bool rs = parse_sample_line(std::string_view(line), ch, plain);
        if (rp != rs) broken("the sample-line readers disagree", line);
        if (!rp) continue;
        if (!same(padded, plain, ch)) broken("the sample-line readers read other values", line);
        // Written again, the line reads the same.
        std::string text;
        {
            Writer w(&text);
            w.num(padded.n);
            for (int c = 0; c < ch; ++c) {
                w.put(' ');
                w.num(padded.v[c]);
            }
            w.put(' ');
            w.num(padded.sec);
            w.put(' ');
            w.num(padded.usec);
            w.flush();
        }
        SampleLine back;
        if (!parse_sample_line(std::string_view(text), ch, back) || !same(back, padded, ch))
            broken("a sample line does not print back to its values", line);
    }
}

void grid_lines_agree(PaddedLine line) {
    for (int ch = 1; ch <= 3; ++ch) {
        axisturn::GridLine padded, plain;
        const bool rp = axisturn::parse_grid_line(line, ch, padded);
        const bool rs = axisturn::parse_grid_line(std::string_view(line), ch, plain);
        if (rp != rs) broken("the grid-line readers disagree", line);
        if (!rp) continue;
        bool eq = padded.ts2 == plain.ts2 && padded.tmks2 == plain.tmks2;
        for (int c = 0; c < ch; ++c) eq = eq && padded.ampx[c] == plain.ampx[c];
        if (!eq) broken("the grid-line readers read other values", line);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    MemFile input(data + 1, size - 1);
    LineReader in(input.fd(), buffer_size(data[0]));
    vorn::PaddedLine line;
    while (in.next(line)) {
        if (line.data()[line.size()] != '\n') broken("a line is not followed by a line feed", line);
        fields_agree<int64_t>(line);
        fields_agree<int32_t>(line);
        sample_lines_agree(line);
        grid_lines_agree(line);
    }
    return 0;
}
