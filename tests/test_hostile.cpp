// Hostile inputs, built by the tests: each must give a correct output
// (judged by qpdf and by the pages' attributes or pixels) or fail with its
// own message and leave the output alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hostile_pdfs.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::have_tool;
using testutil::read_file;
using testutil::run;
using testutil::scratch_dir;
using testutil::write_file;

// qpdf --check finds no error, and warns of nothing but what `allowed`
// matches (empty: of nothing at all).
::testing::AssertionResult qpdf_accepts(const std::string& path, const std::string& allowed = "") {
    std::string report;
    run("qpdf --check " + path + " 2>&1", &report);
    std::istringstream lines(report);
    std::string line;
    const std::regex ok(allowed.empty() ? "$^" : allowed);
    while (std::getline(lines, line)) {
        bool fine = line.rfind("checking ", 0) == 0 || line.rfind("PDF Version:", 0) == 0 ||
                    line.rfind("R = ", 0) == 0 || line.rfind("File is not encrypted", 0) == 0 ||
                    line.rfind("File is linearized", 0) == 0 || line == "No syntax or stream encoding errors found; the file may still contain" ||
                    line == "errors that qpdf cannot detect" || line == "qpdf: operation succeeded with warnings" ||
                    std::regex_search(line, ok);
        if (!fine) return ::testing::AssertionFailure() << path << ": " << line;
    }
    return ::testing::AssertionSuccess();
}

// "Pages", and page 1's size and rotation, as pdfinfo reports them.
std::string page_facts(const std::string& path, int page) {
    std::string text;
    run("pdfinfo -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + path + " 2>/dev/null", &text);
    std::string facts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Pages:", 0) == 0 ||
            (line.rfind("Page ", 0) == 0 && (line.find(" size:") != std::string::npos || line.find(" rot:") != std::string::npos)))
            facts += std::regex_replace(line, std::regex("\\s+"), " ") + "\n";
    return facts;
}

// The pages rendered at 30 dpi are the same pixels in both files.
bool same_pixels(const scratch_dir& dir, const std::string& a, const std::string& b) {
    std::string pa = dir.file("a"), pb = dir.file("b");
    if (run("pdftoppm -r 30 " + a + " " + pa + " 2>/dev/null") != 0) return false;
    if (run("pdftoppm -r 30 " + b + " " + pb + " 2>/dev/null") != 0) return false;
    std::string diff;
    return run("cd " + dir.path().string() + " && for f in a*.ppm; do cmp -s $f b${f#a} || echo $f; done", &diff) == 0 &&
           diff.empty();
}

struct good_case {
    const char* name;
    std::function<std::string()> make;
    std::string want_facts;      // pdfinfo for page `page`
    int page;
    bool compare_pixels;
    std::string allowed_warnings;  // for qpdf --check
};

// Entries of grouped hint tables: qpdf reads a group as its first object
// and reports the others of a page's groups as missing.
const std::string kGroupWarning = "shared object [0-9]+: in computed list but not hint table$";

TEST(Hostile, CorrectOutputs) {
    if (!have_tool("qpdf") || !have_tool("pdfinfo")) GTEST_SKIP() << "qpdf and poppler-utils are needed";
    const std::string one_page = "Pages: 1\nPage 1 size: 300 x 400 pts\nPage 1 rot: 0\n";
    const good_case cases[] = {
        {"look-alikes, direct /Length", [] { return hostile::look_alikes(true); }, one_page, 1, true, ""},
        {"look-alikes, referenced /Length", [] { return hostile::look_alikes(false); }, one_page, 1, true, ""},
        {"object stream header of 3 million entries naming 3 objects", [] { return hostile::objstm_claims(3000000); },
         one_page, 1, false, ""},
        {"object numbered 2^32+1 beside a valid document", hostile::number_past_32_bits, one_page, 1, true, ""},
        {"40-level tree, attributes from the top", [] { return hostile::deep_tree(40); },
         "Pages: 1\nPage 1 size: 200 x 300 pts\nPage 1 rot: 90\n", 1, true, ""},
        {"100,000 pages under one node", [] { return hostile::flat_tree(100000); },
         "Pages: 100000\nPage 100000 size: 300 x 400 pts\nPage 100000 rot: 90\n", 100000, false, ""},
        {"100,000 cross-reference stream sections", [] { return hostile::prev_chain(100000); }, one_page, 1, false, ""},
        {"300 pages x 300 shared objects, grouped", [] { return hostile::pages_shared(300, 300); },
         "Pages: 300\nPage 300 size: 300 x 400 pts\nPage 300 rot: 0\n", 300, false, kGroupWarning},
    };
    for (const good_case& c : cases) {
        scratch_dir dir;
        std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
        write_file(in, c.make());
        ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << c.name << ": " << morvel_last_error();
        EXPECT_EQ(morvel_check(out.c_str()), 1) << c.name << ": " << morvel_last_error();
        EXPECT_TRUE(qpdf_accepts(out, c.allowed_warnings)) << c.name;
        EXPECT_EQ(page_facts(out, c.page), c.want_facts) << c.name;
        if (c.compare_pixels) {
            EXPECT_TRUE(same_pixels(dir, in, out)) << c.name;
        }
    }
}

TEST(Hostile, PagesTimesSharedObjectsNeedOneReferencePerPage) {
    // 10,000 pages reaching the same 10,000 objects: the hint stream holds
    // one reference per page, not 10,000 (qpdf would print 10^8 warnings
    // here, see CorrectOutputs for the same shape at 300 x 300).
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    std::string pdf = hostile::pages_shared(10000, 10000);
    write_file(in, pdf);
    ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << morvel_last_error();
    std::string bytes = read_file(out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(bytes, m, std::regex("/Filter /FlateDecode /S [0-9]+ /Length ([0-9]+) >>")));
    EXPECT_LT(std::stol(m[1]), 20000);
    EXPECT_LT(bytes.size(), pdf.size() + 2000000);
    if (have_tool("pdfinfo")) {
        EXPECT_EQ(page_facts(out, 10000), "Pages: 10000\nPage 10000 size: 300 x 400 pts\nPage 10000 rot: 0\n");
    }
}

struct bad_case {
    const char* name;
    std::function<std::string(const scratch_dir&)> input;  // the input path, made in dir
    std::string want;                                       // the message, %s for the input path
};

TEST(Hostile, FailuresSayWhy) {
    auto file_of = [](std::string (*make)()) {
        return [make](const scratch_dir& dir) {
            std::string in = dir.file("in.pdf");
            write_file(in, make());
            return in;
        };
    };
    const bad_case cases[] = {
        {"object stream past the decoding limit", file_of(hostile::objstm_past_the_limit),
         "object stream 5 0 is too large to decode in '%s'"},
        {"FIFO input",
         [](const scratch_dir& dir) {
             std::string in = dir.file("fifo.pdf");
             mkfifo(in.c_str(), 0600);
             return in;
         },
         "'%s' is not a regular file"},
        {"directory input", [](const scratch_dir& dir) { return dir.path().string(); }, "'%s' is not a regular file"},
        {"signed, signature dictionary of its own", file_of([] { return hostile::signed_document(false); }),
         "'%s' is signed: linearizing would invalidate its signatures"},
        {"signed, signature dictionary inline", file_of([] { return hostile::signed_document(true); }),
         "'%s' is signed: linearizing would invalidate its signatures"},
    };
    for (const bad_case& c : cases) {
        scratch_dir dir;
        std::string in = c.input(dir), out = dir.file("out.pdf");
        write_file(out, "sentinel");
        EXPECT_EQ(morvel_optimize(in.c_str(), out.c_str()), 0) << c.name;
        std::string want = std::regex_replace(c.want, std::regex("%s"), in);
        EXPECT_EQ(std::string(morvel_last_error()), want) << c.name;
        EXPECT_EQ(read_file(out), "sentinel") << c.name;
    }
}

}  // namespace
