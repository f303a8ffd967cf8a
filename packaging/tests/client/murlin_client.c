/* A third-party C99 program on the installed Murlin library: decodes the bit
 * stream of a text file (one character per bit, "1" a one bit) and writes a
 * decode log record per group, like murlin-decode -o -. Then it names the
 * file the library was loaded from, read from /proc/self/maps. */
#include <murlin.h>

#include <stdio.h>
#include <string.h>

static int PrintLibraryPath(void)
{
    char line[4096];
    FILE* maps = fopen("/proc/self/maps", "r");
    if (!maps) return 1;
    while (fgets(line, sizeof line, maps)) {
        const char* path = strchr(line, '/');
        if (path && strstr(path, "/libmurlin.so")) {
            fprintf(stderr, "library: %s", path);
            fclose(maps);
            return 0;
        }
    }
    fclose(maps);
    return 1;
}

int main(int argc, char** argv)
{
    FILE* in;
    int c;
    int n;
    if (argc != 2 || !(in = fopen(argv[1], "r"))) {
        fprintf(stderr, "usage: murlin_client BITS.txt\n");
        return 2;
    }
    RDSInit();
    while ((c = fgetc(in)) != EOF) {
        if ((RDSBitFrame(c == '1', 0) & 0xF000) != 0) continue;
        printf("------------------------------------\r\n");
        for (n = 0; n < 4; ++n) printf("%s\r\n", RDSDisplay(n));
    }
    fclose(in);
    return PrintLibraryPath();
}
