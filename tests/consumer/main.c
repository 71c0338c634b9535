/* A program using the installed library: linearizes argv[1] into argv[2]. */
#include <morvel.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    if (strcmp(morvel_version(), MORVEL_VERSION_STRING) != 0) return 3;
    if (!morvel_optimize_ex(argv[1], argv[2], MORVEL_OBJECT_STREAMS) || !morvel_check(argv[2])) {
        fprintf(stderr, "%s\n", morvel_last_error());
        return 1;
    }
    return 0;
}
