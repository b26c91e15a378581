// argreport: reports its own argument vector, byte for byte.
//
// The report goes out through one fixed buffer and plain write(2) calls, so
// that every byte is accounted for: a write that fails is reported on standard
// error and turns the exit status to 1, a short or interrupted write is
// continued, and a standard output left non-blocking by the caller is waited on.
#include <cerrno>
#include <cstddef>
#include <cstring>

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
void put_number_line(const char *label, std::size_t label_len, int v)
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
    put(label, label_len);
    put(p, static_cast<std::size_t>(digits + sizeof digits - p));
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
        write_all(STDERR_FILENO, usage, sizeof usage - 1);
        return 1;
    }
    put_number_line("argc = ", 7, argc);

    // "第N个命令行参数是:" is built once; N is kept as decimal text right in it
    // and counted up in place, with "第" moved left when N gains a digit.
    static const char first[] = "第";
    static const char rest[] = "个命令行参数是:";
    char prefix[3 + 10 + sizeof rest - 1];
    const std::size_t digits_end = 3 + 10;
    std::size_t start = digits_end - 1 - 3;
    std::memcpy(prefix + start, first, sizeof first - 1);
    prefix[digits_end - 1] = '1';
    std::memcpy(prefix + digits_end, rest, sizeof rest - 1);
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            std::size_t d = digits_end - 1;
            while (prefix[d] == '9')
                prefix[d--] = '0';
            if (d >= start + 3) {
                ++prefix[d];
            } else {
                prefix[d] = '1';
                start = d - 3;
                std::memcpy(prefix + start, first, sizeof first - 1);
            }
        }
        put(prefix + start, sizeof prefix - start);
        put(argv[i], std::strlen(argv[i]));
        put("\n", 1);
    }
    put_number_line("num = ", 6, to_int(argv[1]));
    flush();
    if (out.failed) {
        write_all(STDERR_FILENO, lost, sizeof lost - 1);
        return 1;
    }
    return 0;
}
