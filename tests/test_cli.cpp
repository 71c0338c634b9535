// The command-line program: output lines, where they go, exit statuses,
// option conventions, batches, pipes and JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "corpus.h"
#include "fixtures.h"
#include "test_util.h"

namespace {

using testutil::read_file;
using testutil::run;
using testutil::scratch_dir;
using testutil::write_file;

std::string cli() { return MORVEL_CLI; }

// A folder with a linearized file, a plain one, junk, and a subfolder.
struct cli_files {
    scratch_dir dir;
    std::string lin = dir.file("lin.pdf"), plain = dir.file("plain.pdf"), junk = dir.file("junk.pdf");
    std::string missing = dir.file("missing.pdf"), sub = dir.file("sub");
    cli_files() {
        write_file(plain, testutil::simple_pdf(3));
        write_file(junk, "%PDF-1.4\n" + std::string(100, 'x') + "\n");
        mkdir(sub.c_str(), 0755);
        run(cli() + " optimize " + plain + " " + lin);
    }
};

struct cli_case {
    const char* name;
    std::string args;  // after the program; {D} is the folder
    int status;
    std::string out;  // expected standard output ("*" anything)
    std::string err;  // expected standard error ("*" anything)
};

std::string expand(std::string s, const std::string& dir) {
    for (size_t at; (at = s.find("{D}")) != std::string::npos;) s.replace(at, 3, dir);
    return s;
}

TEST(Cli, Cases) {
    cli_files f;
    std::string D = f.dir.path().string();
    const std::string not_lin = ": not linearized: /Linearized key missing in first object dictionary\n";
    const std::string again = "try 'morvel --help'\n";
    std::vector<cli_case> cases = {
        {"check results on stdout", "check {D}/lin.pdf {D}/plain.pdf", 1,
         "{D}/lin.pdf: linearized\n{D}/plain.pdf" + not_lin, ""},
        {"all linearized", "check {D}/lin.pdf", 0, "{D}/lin.pdf: linearized\n", ""},
        {"unreadable wins over not linearized", "check {D}/plain.pdf {D}/missing.pdf", 3, "{D}/plain.pdf" + not_lin,
         "morvel: {D}/missing.pdf: cannot stat '{D}/missing.pdf' (No such file or directory)\n"},
        {"a directory cannot be read", "check {D}/sub", 3, "",
         "morvel: {D}/sub: '{D}/sub' is not a regular file (Is a directory)\n"},
        {"quiet check", "check -q {D}/plain.pdf", 1, "", ""},
        {"options end at --", "check -- {D}/lin.pdf", 0, "{D}/lin.pdf: linearized\n", ""},
        {"check help", "check --help", 0, "*", ""},
        {"optimize help", "optimize -h", 0, "*", ""},
        {"version", "-V", 0, "*", ""},
        {"optimize", "optimize {D}/plain.pdf {D}/out.pdf", 0, "", ""},
        {"verbose optimize", "optimize -v {D}/plain.pdf {D}/out.pdf", 0, "", "*"},
        {"missing input", "optimize {D}/missing.pdf {D}/out.pdf", 3, "",
         "morvel: {D}/missing.pdf: cannot open file '{D}/missing.pdf' (No such file or directory)\n"},
        {"unwritable output", "optimize {D}/plain.pdf {D}/none/out.pdf", 1, "",
         "morvel: {D}/plain.pdf: cannot open '{D}/none/out.pdf' for writing (No such file or directory)\n"},
        {"not a PDF", "optimize {D}/junk.pdf {D}/out.pdf", 1, "",
         "morvel: {D}/junk.pdf: no valid PDF objects found in '{D}/junk.pdf'\n"},
        {"batch: one failure", "optimize -o {D}/sub {D}/plain.pdf {D}/junk.pdf", 1, "",
         "morvel: {D}/junk.pdf: no valid PDF objects found in '{D}/junk.pdf'\n"},
        {"batch: unreadable wins", "optimize -o {D}/sub {D}/junk.pdf {D}/missing.pdf", 3, "", "*"},
        {"combined short options and --opt=value", "optimize -qvj2 --output-dir={D}/sub {D}/plain.pdf", 0, "", ""},
        {"no command", "", 2, "", "morvel: no command given\n" + again},
        {"unknown command", "frob", 2, "", "morvel: unknown command 'frob'\n" + again},
        {"unknown option", "check --frob x", 2, "", "morvel: unknown option '--frob'\n" + again},
        {"optimize option on check", "check --in-place x", 2, "", "morvel: unknown option '--in-place'\n" + again},
        {"bad jobs", "optimize -j 0 -o {D}/sub {D}/plain.pdf", 2, "",
         "morvel: --jobs needs a number from 1 to 256, not '0'\n" + again},
        {"one operand", "optimize {D}/plain.pdf", 2, "", "*"},
        {"two files, one name", "optimize -o {D}/sub {D}/plain.pdf {D}/sub/plain.pdf", 2, "",
         "morvel: '{D}/plain.pdf' and '{D}/sub/plain.pdf' would both be written to '{D}/sub/plain.pdf'\n" + again},
        {"batch over its input", "optimize -o {D} {D}/plain.pdf", 2, "",
         "morvel: '{D}/plain.pdf' would overwrite the input '{D}/plain.pdf' (use --in-place)\n" + again},
        {"stdin in a batch", "optimize --in-place -", 2, "", "morvel: '-' cannot be part of a batch\n" + again},
        {"json and stdout", "optimize --json {D}/plain.pdf -", 2, "", "*"},
        {"help on a usage error is one line", "check", 2, "", "morvel: check needs at least one FILE\n" + again},
    };
    for (const cli_case& c : cases) {
        std::string out, err_file = f.dir.file("stderr.txt");
        int status = run(cli() + " " + expand(c.args, D) + " 2>" + err_file + " </dev/null", &out);
        std::string err = read_file(err_file);
        EXPECT_EQ(status, c.status) << c.name << "\n" << err;
        if (c.out != "*") {
            EXPECT_EQ(out, expand(c.out, D)) << c.name;
        }
        if (c.err != "*") {
            EXPECT_EQ(err, expand(c.err, D)) << c.name;
        }
    }
}

TEST(Cli, HelpAgreesWithTheCommands) {
    std::string out;
    EXPECT_EQ(run(cli() + " --help", &out), 0);
    for (const char* line : {"usage: morvel check [OPTIONS] FILE...", "morvel optimize [OPTIONS] -o DIR FILE...",
                             "morvel optimize [OPTIONS] --in-place FILE...", "  3  an input could not be read"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(run(cli() + " optimize --help", &out), 0);
    for (const char* opt : {"--output-dir", "--in-place", "--jobs", "--object-streams", "--allow-signed", "--quiet",
                            "--verbose", "--json"})
        EXPECT_NE(out.find(opt), std::string::npos) << opt;
    EXPECT_EQ(run(cli() + " --version", &out), 0);
    EXPECT_EQ(out.rfind("morvel ", 0), 0u);
    EXPECT_NE(out.find("(library "), std::string::npos);
}

TEST(Cli, InPlaceAndPipes) {
    cli_files f;
    std::string copy = f.dir.file("copy.pdf");
    write_file(copy, read_file(f.plain));
    EXPECT_EQ(run(cli() + " optimize --in-place " + copy), 0);
    EXPECT_EQ(run(cli() + " check -q " + copy), 0);

    // Standard input to standard output, through pipes, equals the file call.
    std::string direct = f.dir.file("direct.pdf"), piped = f.dir.file("piped.pdf");
    ASSERT_EQ(run(cli() + " optimize --object-streams " + f.plain + " " + direct), 0);
    ASSERT_EQ(run("cat " + f.plain + " | " + cli() + " optimize --object-streams - - | cat > " + piped), 0);
    EXPECT_TRUE(read_file(piped) == read_file(direct));
    std::string out;
    EXPECT_EQ(run("cat " + piped + " | " + cli() + " check -", &out), 0);
    EXPECT_EQ(out, "-: linearized\n");
    ASSERT_EQ(run(cli() + " optimize - " + f.dir.file("from-stdin.pdf") + " < " + f.plain), 0);
    EXPECT_TRUE(read_file(f.dir.file("from-stdin.pdf")) == read_file(f.lin));
    EXPECT_EQ(run("echo junk | " + cli() + " optimize - - 2>&1 >/dev/null", &out), 1);
    EXPECT_EQ(out, "morvel: -: no valid PDF objects found in '-'\n");
    if (testutil::have_tool("script")) {
        // A terminal as standard output.
        EXPECT_EQ(run("script -qec \"" + cli() + " optimize " + f.plain + " -\" /dev/null", &out), 2);
        EXPECT_NE(out.find("refusing to write a PDF to a terminal"), std::string::npos) << out;
    }
}

TEST(Cli, JsonLinesParseInArgumentOrder) {
    if (!testutil::have_tool("python3")) GTEST_SKIP() << "python3 is not installed";
    cli_files f;
    std::string args = f.lin + " " + f.plain + " " + f.missing;
    std::string script = f.dir.file("read.py");
    write_file(script,
               "import json, sys\n"
               "rows = [json.loads(l) for l in sys.stdin]\n"
               "keys = ['path', 'ok', 'reason', 'input_bytes', 'output_bytes', 'pages', 'ms']\n"
               "assert all(list(r) == keys for r in rows), rows\n"
               "print(' '.join('%s:%s:%s:%s' % (r['path'].split('/')[-1], r['ok'], r['pages'],\n"
               "      r['reason'] is None) for r in rows))\n");
    std::string out;
    EXPECT_EQ(run(cli() + " check --json -j 3 " + args + " 2>/dev/null | python3 " + script, &out), 0);
    EXPECT_EQ(out, "lin.pdf:True:3:True plain.pdf:False:None:False missing.pdf:False:None:False\n");
    EXPECT_EQ(run(cli() + " optimize --json -o " + f.sub + " " + f.plain + " " + f.junk + " 2>/dev/null | python3 " +
                      script,
                  &out),
              0);
    EXPECT_EQ(out, "plain.pdf:True:3:True junk.pdf:False:None:False\n");
}

TEST(Cli, ParallelBatchEqualsOneByOne) {
    std::vector<std::string> files;
    for (const testutil::manifest_row& r : testutil::read_manifest())
        if (!r.encrypted() && r.pages() >= 1 && files.size() < 20) files.push_back(r.path());
    if (files.size() < 20) GTEST_SKIP() << "the corpus is not here";
    scratch_dir dir;
    std::string batch = dir.file("batch"), single = dir.file("single");
    mkdir(batch.c_str(), 0755);
    mkdir(single.c_str(), 0755);
    std::string all;
    for (const std::string& f : files) all += " " + f;
    int status = run(cli() + " optimize -q -j 4 -o " + batch + all + " 2>/dev/null");
    EXPECT_LE(status, 1);
    for (const std::string& f : files) {
        std::string name = f.substr(f.rfind('/') + 1);
        int one = run(cli() + " optimize " + f + " " + single + "/" + name + " 2>/dev/null");
        EXPECT_EQ(testutil::file_exists(batch + "/" + name), one == 0) << name;
        EXPECT_TRUE(read_file(batch + "/" + name) == read_file(single + "/" + name)) << name;
    }
}

}  // namespace
