#include "format.hpp"

namespace vorn {

void format_to(Writer& w, std::string_view fmt, std::initializer_list<FmtArg> args) {
    const FmtArg* arg = args.begin();
    const FmtArg* end = args.end();
    std::size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i++];
        if (c != '%') {
            w.put(c);
            continue;
        }
        if (i < fmt.size() && fmt[i] == '%') {
            w.put('%');
            ++i;
            continue;
        }
        bool zero = false;
        bool left = false;
        while (i < fmt.size() && (fmt[i] == '0' || fmt[i] == '-')) {
            if (fmt[i] == '0') zero = true;
            else left = true;
            ++i;
        }
        int width = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') width = width * 10 + (fmt[i++] - '0');
        int precision = -1;
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            precision = 0;
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') precision = precision * 10 + (fmt[i++] - '0');
        }
        while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h')) ++i;
        if (i >= fmt.size()) break;
        char conv = fmt[i++];
        if (arg == end) continue;
        const FmtArg& a = *arg++;
        std::string tmp;
        Writer local(&tmp, 256);
        Writer& dst = left ? local : w;
        switch (conv) {
        case 'd':
        case 'i':
            if (a.kind() == FmtArg::Kind::integer || a.kind() == FmtArg::Kind::character)
                dst.num(a.integer(), left ? 0 : width, zero ? '0' : ' ');
            break;
        case 'c':
            if (a.kind() == FmtArg::Kind::integer || a.kind() == FmtArg::Kind::character) {
                for (int k = 1; k < width && !left; ++k) dst.put(' ');
                dst.put(static_cast<char>(a.integer()));
            }
            break;
        case 's':
            if (a.kind() == FmtArg::Kind::text) dst.right(a.text(), left ? 0 : width);
            break;
        case 'f':
            if (a.kind() == FmtArg::Kind::real) {
                std::string num;
                Writer nw(&num, 512);
                nw.fixed(a.real(), precision < 0 ? 6 : precision);
                nw.flush();
                dst.right(num, left ? 0 : width);
            }
            break;
        default:
            break;
        }
        if (left) {
            local.flush();
            w.put(tmp);
            for (int k = static_cast<int>(tmp.size()); k < width; ++k) w.put(' ');
        }
    }
}

}  // namespace vorn
