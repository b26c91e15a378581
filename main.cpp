// argreport: reports its own argument vector, byte for byte.
//
// The report goes out through one fixed buffer and plain write(2) calls, so
// that every byte is accounted for: a write that fails is reported on standard
// error and turns the exit status to 1, a short or interrupted write is
// continued, and a standard output left non-blocking by the caller is waited on.
//
// It needs the C library alone, no C++ runtime, heap or exceptions, so that
// the release links statically against a small C library and starts at
// about the kernel's own cost.
#include <errno.h>
#include <limits.h>
#include <link.h>
#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

#if !defined(__GLIBC__)
// The program's own ELF header, under the name the linker gives it.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" const ElfW(Ehdr) __ehdr_start __attribute__((visibility("hidden")));
#endif

namespace {

// The counters come first: they share a page with the start of the buffer,
// so a short report touches one page of it, not two. Its size is the
// build's (ARGREPORT_BUFFER_SIZE), which the tests take too.
struct {
    size_t len;
    bool failed; // once set, nothing more is written to standard output
    char data[ARGREPORT_BUFFER_SIZE];
} out;

bool write_all(int fd, const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
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

void put(const char *s, size_t n)
{
    if (n > sizeof out.data - out.len) {
        flush();
        if (n > sizeof out.data) { // too big to be worth a copy
            if (!out.failed)
                out.failed = !write_all(STDOUT_FILENO, s, n);
            return;
        }
    }
    memcpy(out.data + out.len, s, n);
    out.len += n;
}

// Copies an entry into the buffer. Most entries are short, and the C
// library's memcpy may start with a string instruction whose set-up costs
// more than the copy; copies of a constant size compile to plain moves, and
// two of them that overlap cover any length up to twice their size.
char *copy_entry(char *to, const char *from, size_t n)
{
    if (n > 32) {
        memcpy(to, from, n);
    } else if (n >= 16) {
        memcpy(to, from, 16);
        memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        memcpy(to, from, 8);
        memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        memcpy(to, from, 4);
        memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (size_t k = 0; k < n; ++k)
            to[k] = from[k];
    }
    return to + n;
}

// "<label><v>\n"
template <size_t N> void put_number_line(const char (&label)[N], int v)
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
    put(p, static_cast<size_t>(digits + sizeof digits - p));
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
    constexpr size_t rest_len = sizeof rest - 1;
    // The position follows 「第」 (3 bytes in UTF-8): 「第1」, 4 bytes, is
    // line 1's prefix up to the rest, and where a second digit will go.
    constexpr size_t digits_at = sizeof "第" - 1;
    constexpr size_t first_len = sizeof "第1" - 1;
    constexpr size_t max_digits = 10;
    static_assert(INT_MAX <= 9999999999LL, "a position must fit in max_digits");
    char prefix[digits_at + max_digits + rest_len] = "第1";
    size_t prefix_len = first_len + rest_len;
    memcpy(prefix + first_len, rest, rest_len);
    char last = '1';

    char *p = out.data + out.len;
    for (int i = 0; i < argc; ++i) {
        const size_t n = strlen(argv[i]);
        const size_t last_at = prefix_len - rest_len - 1; // the position's last digit
        // The prefix is copied whole, as a fixed size compiles to a few moves.
        const size_t need = sizeof prefix + n + 1;
        if (static_cast<size_t>(out.data + sizeof out.data - p) < need) {
            out.len = static_cast<size_t>(p - out.data);
            flush();
            p = out.data;
        }
        if (need <= sizeof out.data) {
            memcpy(p, prefix, sizeof prefix);
            p[last_at] = last;
            p = copy_entry(p + prefix_len, argv[i], n);
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
        if (d >= prefix + digits_at) {
            ++*d;
        } else { // 9...9 became 10...0: one digit more, at last_at + 1, then the rest
            const size_t rest_at = last_at + 2;
            prefix[digits_at] = '1';
            memset(prefix + first_len, '0', rest_at - first_len);
            memcpy(prefix + rest_at, rest, rest_len);
            ++prefix_len;
        }
    }
    out.len = static_cast<size_t>(p - out.data);
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
    const long long limit = neg ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if (v < limit)
            v = v * 10 + (*s - '0');
    if (v > limit)
        v = limit;
    return static_cast<int>(neg ? -v : v);
}

#if !defined(__GLIBC__)
// glibc's start-up makes the RELRO segment (the GOT, .dynamic, .init_array
// and .fini_array) read-only once relocations are done; musl's static start-up
// never does, so the program does it itself. Only whole pages can be
// protected, in the kernel's page size. The start is rounded down, as RELRO
// opens its load segment and nothing else lives before it in that page; the
// end is rounded down, so that a page that also holds .data stays writable.
// The linker ends RELRO on a boundary of the largest page the target's
// kernels use (64 KiB on arm64 and ppc64el), so no page of it is partial
// there. A failure leaves the program as it was, and the report goes out all
// the same.
void protect_relro()
{
    const ElfW(Ehdr) *eh = &__ehdr_start;
    const auto *ph = reinterpret_cast<const ElfW(Phdr) *>(
        reinterpret_cast<const char *>(eh) + eh->e_phoff);
    uintptr_t bias = 0, start = 0, end = 0;
    for (size_t k = 0; k < eh->e_phnum; ++k) {
        if (ph[k].p_type == PT_LOAD && ph[k].p_offset == 0)
            bias = reinterpret_cast<uintptr_t>(eh) - ph[k].p_vaddr;
        else if (ph[k].p_type == PT_GNU_RELRO)
            start = ph[k].p_vaddr, end = ph[k].p_vaddr + ph[k].p_memsz;
    }
    const uintptr_t page = getauxval(AT_PAGESZ);
    start = (bias + start) & ~(page - 1);
    end = (bias + end) & ~(page - 1);
    if (page != 0 && start < end) // an address the program headers gave:
        (void)mprotect(reinterpret_cast<void *>(start), // NOLINT(performance-no-int-to-ptr)
                       end - start, PROT_READ);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    static const char wrong_argument_count[] = "error: 命令行参数个数错误!\n";
    static const char write_failed[] = "error: 写入标准输出失败!\n";
#if !defined(__GLIBC__)
    protect_relro();
#endif
    if (argc <= 1) {
        // The status already says what went wrong, whether or not this
        // message gets through.
        write_all(STDERR_FILENO, wrong_argument_count, sizeof wrong_argument_count - 1);
        return 1;
    }
    put_number_line("argc = ", argc);
    list_entries(argc, argv);
    put_number_line("num = ", to_int(argv[1]));
    flush();
    if (out.failed) {
        write_all(STDERR_FILENO, write_failed, sizeof write_failed - 1);
        return 1;
    }
    return 0;
}
