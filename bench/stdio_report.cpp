// A peer: the report written the straightforward way, with stdio.
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc <= 1) {
        (void)std::fputs("error: 命令行参数个数错误!\n", stderr);
        return 1;
    }
    std::printf("argc = %d\n", argc);
    for (int i = 0; i < argc; ++i)
        std::printf("第%d个命令行参数是:%s\n", i + 1, argv[i]);
    int num = 0;
    (void)std::sscanf(argv[1], "%d", &num); // NOLINT(cert-err34-c): the usual way, on purpose
    std::printf("num = %d\n", num);
    return 0;
}
