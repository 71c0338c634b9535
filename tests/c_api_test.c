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
    if (strcmp(morvel_version(), MORVEL_VERSION_STRING) != 0) return 7;
    {
        void* out = (void*)1;
        size_t len = 1;
        if (morvel_optimize_mem("%PDF-1.4\n", 9, &out, &len, 0) != 0 || out != NULL || len != 0) return 8;
        if (strcmp(morvel_last_error(), "no valid PDF objects found in '<memory>'") != 0) return 9;
        if (morvel_last_errno() != 0) return 10;
        morvel_free(out);
    }
    puts("c api ok");
    return 0;
}
