/*
 * morvel: the command-line front end of the library.
 *
 *   morvel check FILE...                 one line per file; exit 0 when all are linearized
 *   morvel optimize [OPTIONS] IN OUT     write a linearized copy of IN to OUT
 *
 * Exit status: 0 success, 1 a file failed, 2 usage error.
 */
#include <cstdio>
#include <cstring>

#include "morvel.h"

static const char usage_text[] =
    "usage: morvel check FILE...\n"
    "       morvel optimize [--object-streams] [--allow-signed] INPUT OUTPUT\n"
    "       morvel --help | --version\n"
    "\n"
    "Rewrites PDF files as linearized PDF files (\"fast web view\": the first\n"
    "page can be shown before the whole file has arrived) and checks whether\n"
    "PDF files are already linearized.\n"
    "\n"
    "commands:\n"
    "  check FILE...          print 'FILE: linearized' or\n"
    "                         'FILE: not linearized: REASON' for each file\n"
    "  optimize INPUT OUTPUT  write a linearized copy of INPUT to OUTPUT\n"
    "                         (OUTPUT may be INPUT; it is replaced only on success)\n"
    "\n"
    "optimize options:\n"
    "  --object-streams       the compact form: object streams and cross-reference\n"
    "                         streams (PDF 1.5), unreferenced objects left out\n"
    "  --allow-signed         rewrite a signed document although its signatures\n"
    "                         will no longer verify\n"
    "\n"
    "exit status: 0 success (every file linearized), 1 failure, 2 usage error\n";

static int usage_error(const char* msg) {
    fprintf(stderr, "morvel: %s\n%s", msg, usage_text);
    return 2;
}

static int run_check(int argc, char** argv) {
    if (argc < 1) return usage_error("check needs at least one FILE");
    int status = 0;
    for (int i = 0; i < argc; i++) {
        if (morvel_check(argv[i])) {
            printf("%s: linearized\n", argv[i]);
        } else {
            printf("%s: not linearized: %s\n", argv[i], morvel_last_error());
            status = 1;
        }
    }
    return status;
}

static int run_optimize(int argc, char** argv) {
    unsigned flags = 0;
    const char* paths[2];
    int count = 0;
    for (int i = 0; i < argc; i++) {
        if (!strcmp(argv[i], "--object-streams")) {
            flags |= MORVEL_OBJECT_STREAMS;
        } else if (!strcmp(argv[i], "--allow-signed")) {
            flags |= MORVEL_ALLOW_SIGNED;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            char msg[256];
            snprintf(msg, sizeof msg, "unknown option '%s'", argv[i]);
            return usage_error(msg);
        } else if (count == 2) {
            return usage_error("optimize needs INPUT and OUTPUT");
        } else {
            paths[count++] = argv[i];
        }
    }
    if (count != 2) return usage_error("optimize needs INPUT and OUTPUT");
    if (!morvel_optimize_ex(paths[0], paths[1], flags)) {
        fprintf(stderr, "morvel: %s\n", morvel_last_error());
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    const char* cmd = argv[1];
    if (!strcmp(cmd, "--help") || !strcmp(cmd, "-h") || !strcmp(cmd, "help")) {
        fputs(usage_text, stdout);
        return 0;
    }
    if (!strcmp(cmd, "--version")) {
        printf("morvel %s\n", MORVEL_VERSION);
        return 0;
    }
    if (!strcmp(cmd, "check")) return run_check(argc - 2, argv + 2);
    if (!strcmp(cmd, "optimize")) return run_optimize(argc - 2, argv + 2);
    char msg[256];
    snprintf(msg, sizeof msg, "unknown command '%s'", cmd);
    return usage_error(msg);
}
