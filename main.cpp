// argreport: reports its own argument vector, byte for byte.
#include <cstdio>

namespace {

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
    if (argc <= 1) {
        std::fwrite(usage, 1, sizeof usage - 1, stderr);
        return 1;
    }
    std::printf("argc = %d\n", argc);
    for (int i = 0; i < argc; ++i)
        std::printf("第%d个命令行参数是:%s\n", i + 1, argv[i]);
    std::printf("num = %d\n", to_int(argv[1]));
    return 0;
}
