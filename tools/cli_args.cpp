/*
 * Option parsing for both commands. One table names every option, its
 * short letter, whether it takes a value and which command has it.
 */
#include "cli_args.h"

#include <cstdlib>
#include <cstring>

namespace {

enum class opt { help, object_streams, allow_signed, quiet, verbose, json, in_place, jobs, out_dir };

struct option_spec {
    const char* name;
    char letter;  // 0: long only
    bool value;
    bool optimize_only;
    opt which;
};

constexpr option_spec OPTIONS[] = {
    {"help", 'h', false, false, opt::help},
    {"quiet", 'q', false, false, opt::quiet},
    {"verbose", 'v', false, false, opt::verbose},
    {"json", 0, false, false, opt::json},
    {"jobs", 'j', true, false, opt::jobs},
    {"object-streams", 0, false, true, opt::object_streams},
    {"allow-signed", 0, false, true, opt::allow_signed},
    {"in-place", 0, false, true, opt::in_place},
    {"output-dir", 'o', true, true, opt::out_dir},
};

bool apply(const option_spec& o, const std::string& value, cli_args& out, std::string* error) {
    switch (o.which) {
        case opt::help: out.help = true; break;
        case opt::object_streams: out.object_streams = true; break;
        case opt::allow_signed: out.allow_signed = true; break;
        case opt::quiet: out.quiet = true; break;
        case opt::verbose: out.verbose = true; break;
        case opt::json: out.json = true; break;
        case opt::in_place: out.in_place = true; break;
        case opt::out_dir:
            if (value.empty()) return *error = "-o needs a directory", false;
            out.out_dir = value;
            break;
        case opt::jobs: {
            char* end = nullptr;
            long n = strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || n < 1 || n > 256)
                return *error = "--jobs needs a number from 1 to 256, not '" + value + "'", false;
            out.jobs = static_cast<int>(n);
            break;
        }
    }
    return true;
}

const option_spec* find_long(const std::string& name, bool optimize_options) {
    for (const option_spec& o : OPTIONS)
        if (name == o.name && (optimize_options || !o.optimize_only)) return &o;
    return nullptr;
}

const option_spec* find_short(char letter, bool optimize_options) {
    for (const option_spec& o : OPTIONS)
        if (o.letter == letter && (optimize_options || !o.optimize_only)) return &o;
    return nullptr;
}

}  // namespace

bool parse_cli_args(int argc, char** argv, bool optimize_options, cli_args& out, std::string* error) {
    bool options_end = false;
    for (int i = 0; i < argc; i++) {
        std::string a = argv[i];
        if (options_end || a == "-" || a[0] != '-') {
            out.operands.push_back(a);
        } else if (a == "--") {
            options_end = true;
        } else if (a[1] == '-') {
            size_t eq = a.find('=');
            std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const option_spec* o = find_long(name, optimize_options);
            if (!o) return *error = "unknown option '--" + name + "'", false;
            std::string value;
            if (o->value) {
                if (eq != std::string::npos)
                    value = a.substr(eq + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    return *error = "option '--" + name + "' needs a value", false;
            } else if (eq != std::string::npos) {
                return *error = "option '--" + name + "' takes no value", false;
            }
            if (!apply(*o, value, out, error)) return false;
        } else {
            for (size_t k = 1; k < a.size(); k++) {
                const option_spec* o = find_short(a[k], optimize_options);
                if (!o) return *error = std::string("unknown option '-") + a[k] + "'", false;
                std::string value;
                if (o->value) {
                    if (k + 1 < a.size())
                        value = a.substr(k + 1);
                    else if (i + 1 < argc)
                        value = argv[++i];
                    else
                        return *error = std::string("option '-") + a[k] + "' needs a value", false;
                    k = a.size();
                }
                if (!apply(*o, value, out, error)) return false;
            }
        }
    }
    return true;
}
