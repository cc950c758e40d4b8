#include "auxout.hpp"

#include <cmath>

#include "calendar.hpp"
#include "vorn.hpp"

namespace vornconv {

AuxTime aux_record_time(bool first_valid_pps, double f1, int64_t ibuf, int32_t s_rate) {
    double t = 0.0;
    if (first_valid_pps) t = f1 + static_cast<double>(ibuf) / s_rate;
    const double whole = std::floor(t);
    return {static_cast<int64_t>(whole), static_cast<int64_t>(std::floor((t - whole) * 1000))};
}

void AuxOutput::stamp() {
    vorn::Writer& w = *file_;
    w.put('\n');
    vorn::write_datetime(w, vorn::utc_gmtime(sec_));
    w.put('.');
    w.num(ms_, 3, '0');
    w.put(' ');
}

void AuxOutput::record(const vorn::AuxDescriptor& d, const uint8_t* payload, int64_t sec, int64_t ms) {
    if (d.length < 2) return;
    sec_ = sec;
    ms_ = ms;
    const std::size_t n = d.payload();
    switch (d.type) {
        case 4:
        case 6:
            for (std::size_t i = 0; i < n; ++i) {
                if (file_ != nullptr) {
                    if (first_) stamp();
                    file_->put(static_cast<char>(payload[i]));
                }
                first_ = false;
            }
            if (file_ != nullptr) file_->put(' ');
            if (d.type == 4) first_ = true;
            break;
        case 2:
            for (std::size_t i = 0; i + vorn::kAuxEntryBytes <= n; i += vorn::kAuxEntryBytes) {
                if (file_ != nullptr) {
                    if (first_) stamp();
                    const int code = payload[i] & 0x7F;
                    file_->num(vorn::aux21(payload[i + 1], payload[i + 2], payload[i + 3]));
                    file_->put(' ');
                    const std::string_view unit = vorn::aux_unit(code);
                    if (unit.empty()) {
                        file_->put("unit");
                        file_->num(code);
                    } else {
                        file_->put(unit);
                    }
                    file_->put(' ');
                }
                first_ = false;
            }
            break;
        case 0: first_ = true; break;
        default: break;
    }
}

}  // namespace vornconv
