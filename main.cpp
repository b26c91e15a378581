// argreport: reports its own argument vector, byte for byte.
//
// The report goes out through one fixed buffer and plain write(2) calls, so
// that every byte is accounted for: a write that fails is reported on standard
// error and turns the exit status to 1, a short or interrupted write is
// continued, and a standard output left non-blocking by the caller is waited on.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>

#include <poll.h>
#include <unistd.h>

namespace {

struct {
    char data[16384];
    std::size_t len;
    bool failed; // once set, nothing more is written to standard output
} out;

bool write_all(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, -1) < 0 && errno != EINTR)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

void flush()
{
    if (!out.failed && out.len > 0)
        out.failed = !write_all(STDOUT_FILENO, out.data, out.len);
    out.len = 0;
}

void put(const char *s, std::size_t n)
{
    if (n > sizeof out.data - out.len) {
        flush();
        if (n > sizeof out.data) { // too big to be worth a copy
            if (!out.failed)
                out.failed = !write_all(STDOUT_FILENO, s, n);
            return;
        }
    }
    std::memcpy(out.data + out.len, s, n);
    out.len += n;
}

// "<label><v>\n"
template <std::size_t N> void put_number_line(const char (&label)[N], int v)
{
    char digits[16];
    char *p = digits + sizeof digits;
    *--p = '\n';
    // Work on the magnitude as unsigned so that the most negative int fits.
    unsigned m = v < 0 ? 0U - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    do {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    if (v < 0)
        *--p = '-';
    put(label, N - 1);
    put(p, static_cast<std::size_t>(digits + sizeof digits - p));
}

// "第N个命令行参数是:<entry>\n" for every entry. With tens of thousands of
// entries this loop is the run time, so a line is three copies and no
// formatting: N is kept as text in the prefix and counted up in place. Its
// last digit is kept apart and stored into each line, so the prefix changes
// only every tenth line; reading it back right after a byte of it was written
// would stall the processor on every line.
void list_entries(int argc, char *argv[])
{
    static const char rest[] = "个命令行参数是:";
    char prefix[32] = "第1"; // "第", up to 10 digits, rest
    std::size_t prefix_len = 4 + sizeof rest - 1;
    std::memcpy(prefix + 4, rest, sizeof rest - 1);
    char last = '1';

    char *p = out.data + out.len;
    for (int i = 0; i < argc; ++i) {
        const std::size_t n = std::strlen(argv[i]);
        const std::size_t last_at = prefix_len - sizeof rest;
        // The prefix is copied whole, as a fixed size compiles to two moves.
        const std::size_t need = sizeof prefix + n + 1;
        if (static_cast<std::size_t>(std::end(out.data) - p) < need) {
            out.len = static_cast<std::size_t>(p - out.data);
            flush();
            p = out.data;
        }
        if (need <= sizeof out.data) {
            // std::copy_n, not the fortified memcpy: the check above bounds
            // both copies, and the fortified one would add a call per piece.
            std::copy_n(prefix, sizeof prefix, p);
            p[last_at] = last;
            p = std::copy_n(argv[i], n, p + prefix_len);
            *p++ = '\n';
        } else { // larger than the buffer: goes out without a copy
            prefix[last_at] = last;
            put(prefix, prefix_len);
            put(argv[i], n);
            put("\n", 1);
            p = out.data + out.len;
        }

        if (last != '9') {
            ++last;
            continue;
        }
        last = '0';
        char *d = prefix + last_at - 1;
        while (*d == '9')
            *d-- = '0';
        if (d >= prefix + 3) {
            ++*d;
        } else { // 9...9 became 10...0: one digit more
            prefix[3] = '1';
            std::fill(prefix + 4, prefix + last_at + 2, '0');
            std::memcpy(prefix + last_at + 2, rest, sizeof rest - 1);
            ++prefix_len;
        }
    }
    out.len = static_cast<std::size_t>(p - out.data);
}

// The first argument read as a decimal int: optional white space, an optional
// sign, ASCII digits. Values past the int range saturate rather than wrap, and
// text that holds no number gives 0. Done by hand so that no locale and no
// length of input can change the result.
int to_int(const char *s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    const bool neg = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    const long long limit = neg ? 2147483648LL : 2147483647LL;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if (v < limit)
            v = v * 10 + (*s - '0');
    if (v > limit)
        v = limit;
    return static_cast<int>(neg ? -v : v);
}

} // namespace

int main(int argc, char *argv[])
{
    static const char usage[] = "error: 命令行参数个数错误!\n";
    static const char lost[] = "error: 写入标准输出失败!\n";
    if (argc <= 1) {
        // The status already says what went wrong, whether or not this
        // message gets through.
        write_all(STDERR_FILENO, usage, sizeof usage - 1);
        return 1;
    }
    put_number_line("argc = ", argc);
    list_entries(argc, argv);
    put_number_line("num = ", to_int(argv[1]));
    flush();
    if (out.failed) {
        write_all(STDERR_FILENO, lost, sizeof lost - 1);
        return 1;
    }
    return 0;
}
