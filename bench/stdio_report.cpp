// A peer: the report written the straightforward way, with stdio. Only C
// headers, so that it also builds against musl alone, as the release does.
#include <stdio.h>

int main(int argc, char *argv[])
{
    if (argc <= 1) {
        (void)fputs("error: 命令行参数个数错误!\n", stderr);
        return 1;
    }
    printf("argc = %d\n", argc);
    for (int i = 0; i < argc; ++i)
        printf("第%d个命令行参数是:%s\n", i + 1, argv[i]);
    int num = 0;
    (void)sscanf(argv[1], "%d", &num); // NOLINT(cert-err34-c): the usual way, on purpose
    printf("num = %d\n", num);
    return 0;
}
