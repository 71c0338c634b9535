/*
 * morvel: the command-line front end of the library.
 *
 *   morvel check [OPTIONS] FILE...
 *   morvel optimize [OPTIONS] INPUT OUTPUT
 *   morvel optimize [OPTIONS] -o DIR FILE...
 *   morvel optimize [OPTIONS] --in-place FILE...
 *
 * Results of check go to standard output, every error to standard error
 * ("morvel: FILE: MESSAGE (REASON)"), --json lines to standard output.
 * Exit status: 0 success, 1 a file not linearized or failed, 2 usage
 * error, 3 an input that could not be read (wins over 1).
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli_args.h"
#include "cli_jobs.h"
#include "morvel.h"

namespace {

const char MAIN_HELP[] =
    "usage: morvel check [OPTIONS] FILE...\n"
    "       morvel optimize [OPTIONS] INPUT OUTPUT\n"
    "       morvel optimize [OPTIONS] -o DIR FILE...\n"
    "       morvel optimize [OPTIONS] --in-place FILE...\n"
    "       morvel --help | --version\n"
    "\n"
    "Rewrites PDF files as linearized PDF files (\"fast web view\": the first\n"
    "page can be shown before the whole file has arrived) and checks whether\n"
    "PDF files are already linearized. 'morvel COMMAND --help' shows a\n"
    "command's options. '-' as a file is standard input (and, as OUTPUT,\n"
    "standard output).\n"
    "\n"
    "commands:\n"
    "  check      print 'FILE: linearized' or 'FILE: not linearized: REASON'\n"
    "  optimize   write linearized copies\n"
    "\n"
    "exit status:\n"
    "  0  success (check: every file is linearized)\n"
    "  1  a file is not linearized (check) or could not be optimized\n"
    "  2  usage error\n"
    "  3  an input could not be read at all (missing, unreadable, not a\n"
    "     regular file); wins over 1\n";

const char CHECK_HELP[] =
    "usage: morvel check [OPTIONS] FILE...\n"
    "\n"
    "Prints 'FILE: linearized' or 'FILE: not linearized: REASON' for each\n"
    "FILE on standard output; '-' reads standard input.\n"
    "\n"
    "options:\n"
    "  -j, --jobs N    check N files at once (default 1)\n"
    "  -q, --quiet     print no result lines, only errors\n"
    "  -v, --verbose   also a line per file on standard error: bytes, pages, time\n"
    "      --json      one JSON object per file on standard output instead\n"
    "  -h, --help      this help\n"
    "\n"
    "exit status: 0 every file linearized, 1 some file not linearized,\n"
    "2 usage error, 3 some file could not be read (wins over 1)\n";

const char OPTIMIZE_HELP[] =
    "usage: morvel optimize [OPTIONS] INPUT OUTPUT\n"
    "       morvel optimize [OPTIONS] -o DIR FILE...\n"
    "       morvel optimize [OPTIONS] --in-place FILE...\n"
    "\n"
    "Writes a linearized copy of INPUT to OUTPUT (which may be INPUT), of each\n"
    "FILE to DIR/its name, or of each FILE over itself. An output is replaced\n"
    "only when its file succeeded. '-' as INPUT reads standard input, as\n"
    "OUTPUT writes standard output (not a terminal); not in batches.\n"
    "\n"
    "options:\n"
    "  -o, --output-dir DIR  write each FILE to DIR/basename(FILE)\n"
    "      --in-place        replace each FILE with its linearized copy\n"
    "  -j, --jobs N          optimize N files at once (default 1)\n"
    "      --object-streams  the compact form: object streams and cross-reference\n"
    "                        streams (PDF 1.5), unreferenced objects left out\n"
    "      --allow-signed    rewrite a signed document although its signatures\n"
    "                        will no longer verify\n"
    "  -q, --quiet           print nothing but errors\n"
    "  -v, --verbose         a line per file on standard error: bytes, pages, time\n"
    "      --json            one JSON object per file on standard output\n"
    "  -h, --help            this help\n"
    "\n"
    "exit status: 0 success, 1 some file failed (an unwritable output\n"
    "included), 2 usage error, 3 some input could not be read (wins over 1)\n";

int usage_error(const std::string& message) {
    fprintf(stderr, "morvel: %s\ntry 'morvel --help'\n", message.c_str());
    return 2;
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string json_number(int64_t v) { return v < 0 ? "null" : std::to_string(v); }

// What the user sees of one file: the result line, the error line, the
// verbose or JSON line. Returns the file's contribution to the exit status.
int print_result(const file_result& r, const cli_args& args, bool is_check) {
    bool ok = r.how == outcome::ok;
    if (args.json) {
        printf("{\"path\": %s, \"ok\": %s, \"reason\": %s, \"input_bytes\": %s, \"output_bytes\": %s, "
               "\"pages\": %s, \"ms\": %.3f}\n",
               json_string(r.path).c_str(), ok ? "true" : "false", ok ? "null" : json_string(r.reason).c_str(),
               json_number(r.input_bytes).c_str(), json_number(r.output_bytes).c_str(),
               json_number(r.pages).c_str(), r.ms);
    }
    bool is_result = is_check && r.how != outcome::unreadable;
    if (is_result && !args.json && !args.quiet) {
        if (ok)
            printf("%s: linearized\n", r.path.c_str());
        else
            printf("%s: not linearized: %s\n", r.path.c_str(), r.reason.c_str());
    }
    if (!ok && !is_result) {
        std::string why = r.sys_errno ? std::string(" (") + strerror(r.sys_errno) + ")" : "";
        fprintf(stderr, "morvel: %s: %s%s\n", r.path.c_str(), r.reason.c_str(), why.c_str());
    }
    if (args.verbose && !args.quiet && ok) {
        std::string out = r.output_bytes >= 0 ? " \xE2\x86\x92 " + std::to_string(r.output_bytes) : "";
        fprintf(stderr, "morvel: %s: %lld%s bytes, %lld pages, %.1f ms\n", r.path.c_str(),
                static_cast<long long>(r.input_bytes), out.c_str(), static_cast<long long>(r.pages), r.ms);
    }
    fflush(stdout);
    return static_cast<int>(r.how);
}

int worst(int a, int b) { return a == 3 || b == 3 ? 3 : (a > b ? a : b); }

int run_files(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, const cli_args& args,
              unsigned flags, bool is_check) {
    std::vector<file_result> results(inputs.size());
    int status = 0;
    run_in_order(
        inputs.size(), args.jobs,
        [&](size_t i) {
            results[i] = is_check ? check_file(inputs[i]) : optimize_file(inputs[i], outputs[i], flags);
        },
        [&](size_t i) { status = worst(status, print_result(results[i], args, is_check)); });
    return status;
}

int run_check(int argc, char** argv) {
    cli_args args;
    std::string error;
    if (!parse_cli_args(argc, argv, false, args, &error)) return usage_error(error);
    if (args.help) return fputs(CHECK_HELP, stdout), 0;
    if (args.operands.empty()) return usage_error("check needs at least one FILE");
    int stdin_uses = 0;
    for (const std::string& f : args.operands) stdin_uses += f == "-";
    if (stdin_uses > 1) return usage_error("'-' (standard input) can be read only once");
    return run_files(args.operands, {}, args, 0, true);
}

std::string base_name(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The existing file a path names, as device and inode; nothing for a
// path that names none.
std::optional<std::pair<dev_t, ino_t>> file_id(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::make_pair(st.st_dev, st.st_ino);
}

// The inputs of a batch by path and by file, to find the one an output
// would overwrite (the same path, or the same file under another name).
struct batch_inputs {
    std::map<std::string, const std::string*> by_path;
    std::map<std::pair<dev_t, ino_t>, const std::string*> by_id;

    explicit batch_inputs(const std::vector<std::string>& inputs) {
        for (const std::string& f : inputs) {
            by_path.emplace(f, &f);
            if (std::optional<std::pair<dev_t, ino_t>> id = file_id(f)) by_id.emplace(*id, &f);
        }
    }

    const std::string* overwritten_by(const std::string& out) const {
        if (auto it = by_path.find(out); it != by_path.end()) return it->second;
        std::optional<std::pair<dev_t, ino_t>> id = file_id(out);
        if (!id) return nullptr;
        auto it = by_id.find(*id);
        return it == by_id.end() ? nullptr : it->second;
    }
};

int run_optimize(int argc, char** argv) {
    cli_args args;
    std::string error;
    if (!parse_cli_args(argc, argv, true, args, &error)) return usage_error(error);
    if (args.help) return fputs(OPTIMIZE_HELP, stdout), 0;
    unsigned flags = (args.object_streams ? MORVEL_OBJECT_STREAMS : 0u) | (args.allow_signed ? MORVEL_ALLOW_SIGNED : 0u);
    const std::vector<std::string>& ops = args.operands;
    bool batch = args.in_place || !args.out_dir.empty();
    if (args.in_place && !args.out_dir.empty()) return usage_error("--in-place and -o DIR exclude each other");
    std::vector<std::string> outputs;
    if (!batch) {
        if (ops.size() != 2) return usage_error("optimize needs INPUT and OUTPUT (or -o DIR or --in-place with FILEs)");
        if (ops[1] == "-" && isatty(1)) return usage_error("refusing to write a PDF to a terminal");
        if (ops[1] == "-" && args.json) return usage_error("--json and '-' as OUTPUT both need standard output");
        outputs.push_back(ops[1]);
        return run_files({ops[0]}, outputs, args, flags, false);
    }
    if (ops.empty()) return usage_error("optimize needs at least one FILE");
    std::string dir = args.out_dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::map<std::string, std::string> taken;  // output -> the FILE that writes it
    for (const std::string& f : ops) {
        if (f == "-") return usage_error("'-' cannot be part of a batch");
        std::string out = args.in_place ? f : (dir == "/" ? "" : dir) + "/" + base_name(f);
        auto [it, fresh] = taken.emplace(out, f);
        if (!fresh) return usage_error("'" + it->second + "' and '" + f + "' would both be written to '" + out + "'");
        outputs.push_back(out);
    }
    if (!args.in_place) {
        batch_inputs inputs(ops);
        for (const std::string& out : outputs)
            if (const std::string* f = inputs.overwritten_by(out))
                return usage_error("'" + out + "' would overwrite the input '" + *f + "' (use --in-place)");
    }
    return run_files(ops, outputs, args, flags, false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return fputs(MAIN_HELP, stdout), 0;
    if (cmd == "--version" || cmd == "-V") {
        printf("morvel %s (library %s)\n", MORVEL_VERSION, morvel_version());
        return 0;
    }
    if (cmd == "check") return run_check(argc - 2, argv + 2);
    if (cmd == "optimize") return run_optimize(argc - 2, argv + 2);
    return usage_error("unknown command '" + cmd + "'");
}
