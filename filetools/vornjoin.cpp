#include "vornjoin.hpp"

#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "format.hpp"
#include "header_scan.hpp"
#include "recorder.hpp"

namespace vorn::filetools {

namespace {

// Input blocks a little larger than standard output's buffer (1 MiB): a
// whole block then goes out in one write, without a copy into the buffer.
constexpr std::size_t kBodyBlock = (std::size_t{1} << 20) + (std::size_t{1} << 16);

// Closes the input file on every way out of a file's turn.
class InputFile {
public:
    explicit InputFile(const char* name) : fd_(::open(name, O_RDONLY | O_CLOEXEC)) {}
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// True when fd is the regular file that output_stat describes.
bool is_output_file(int fd, const struct stat* output_stat) {
    if (output_stat == nullptr) return false;
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == output_stat->st_dev && st.st_ino == output_stat->st_ino;
}

}  // namespace

void copy_body(ByteReader& in, Writer& out, bool drop_ef) {
    for (std::size_t n = in.available(); n > 0; n = in.available()) {
        const uint8_t* p = in.data();
        const uint8_t* end = p + n;
        if (drop_ef) {
            // Write the runs between the dropped bytes.
            while (p != end) {
                const void* hit = std::memchr(p, kDroppedByte, static_cast<std::size_t>(end - p));
                const uint8_t* run_end = hit != nullptr ? static_cast<const uint8_t*>(hit) : end;
                out.put(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(run_end - p)));
                p = hit != nullptr ? run_end + 1 : end;
            }
        } else {
            out.put(std::string_view(reinterpret_cast<const char*>(p), n));
        }
        in.consume(n);
    }
}

Exit join_files(std::span<char* const> names, Writer& out, Writer& diag, int output_fd) {
    if (names.empty())
        return failure(Exit::fatal, diag, "%s ERROR: needs at least one input file\n", {program_name()});

    struct stat output_stat {};
    const struct stat* output_file = nullptr;
    if (output_fd >= 0 && ::fstat(output_fd, &output_stat) == 0 && S_ISREG(output_stat.st_mode))
        output_file = &output_stat;

    HeaderTokens tokens;
    // 64 bits, so that the number after 2147483647 is no overflow.
    int64_t fileno_prev = 0;
    const std::size_t count = names.size();
    for (std::size_t i = 1; i <= count; ++i) {
        const char* name = names[i - 1];
        InputFile file(name);
        if (file.fd() < 0)
            return failure(Exit::fatal, diag, "%s ERROR: opening input file: %s\n", {program_name(), name});
        if (is_output_file(file.fd(), output_file))
            return failure(Exit::fatal, diag,
                           "%s ERROR: input file %s is the output file\n", {program_name(), name});

        ByteReader in(file.fd(), name, kBodyBlock);
        tokens.clear();
        uint8_t type_byte = 0;
        // The first file's header goes out as it is read; later headers do not.
        if (scan_header(in, tokens, type_byte, i == 1 ? &out : nullptr) == HeaderScan::no_header)
            return failure(Exit::fatal, diag,
                           "%s ERROR: no header/data in file %s\n", {program_name(), name});

        int32_t fileno = find_fileno(tokens, kJoinNoNumber);
        format_to(diag, "processing file #%d %s (seqno %d)\n", {static_cast<int64_t>(i), name, fileno});
        diag.flush();
        if (i > 1 && static_cast<int64_t>(fileno) != fileno_prev + 1)
            // "File" twice with a capital: kept on purpose, stored scripts expect it.
            return failure(Exit::fatal, diag, "%s ERROR: File %s can not be merged with File %s\n",
                         {program_name(), name, names[i - 2]});
        fileno_prev = fileno;

        if (i > 1) out.put(static_cast<char>(type_byte));
        copy_body(in, out, i < count);
    }
    return Exit::ok;
}

}  // namespace vorn::filetools
