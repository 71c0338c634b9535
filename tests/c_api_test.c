/* The public header compiles as C and the shared library links from C. */
#include <stdio.h>
#include <string.h>

#include "morvel.h"

int main(void) {
    if (morvel_init() != 1) return 1;
    if (morvel_check(NULL) != 0) return 2;
    if (strcmp(morvel_last_error(), "input_path is NULL or empty") != 0) return 3;
    morvel_cleanup();
    if (morvel_last_error()[0] != '\0') return 4;
    if (morvel_optimize("", "x") != 0) return 5;
    if (strcmp(morvel_last_error(), "input_path or output_path is NULL/empty") != 0) return 6;
    puts("c api ok");
    return 0;
}
