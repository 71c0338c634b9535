// Independent checks of every corpus file's output in both forms (when the
// corpus and the tools are present), which the in-memory call must give
// byte for byte too: qpdf's linearization and structure
// checks, page counts, document information, outlines and form fields, and
// the first pages rendered pixel for pixel.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "corpus.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::read_file;
using testutil::run;
using testutil::scratch_dir;

struct corpus_row {
    std::string file;
    long pages;
    bool encrypted;
    bool qpdf_errors;  // qpdf --check of the input fails
};

// Tests that drive external tools over the whole corpus take a sample
// under the sanitizers, where the library runs several times slower.
std::vector<corpus_row> corpus_rows() {
    std::vector<corpus_row> rows;
    for (const testutil::manifest_row& r : testutil::read_manifest())
        rows.push_back({r.file(), r.pages(), r.encrypted(), r.qpdf_errors()});
#ifdef MORVEL_SANITIZED
    std::vector<corpus_row> sample;
    for (size_t i = 0; i < rows.size(); i += 8) sample.push_back(rows[i]);
    rows = sample;
#endif
    return rows;
}
std::string sh_quote(const std::string& s) { return "'" + s + "'"; }

// A hint-table warning: about the output's own layout, never one that an
// input's damage explains.
bool hint_warning(const std::string& message) {
    static const std::regex hint(
        "object count mismatch for page|end of first page section \\(/E\\) mismatch|"
        "incorrect object count in outline hint table|in hint table but not computed list");
    return std::regex_search(message, hint);
}

// qpdf's messages about a file, with the file name dropped and numbers
// masked (object numbers and offsets differ between input and output).
std::set<std::string> qpdf_messages(const std::string& args, const std::string& path) {
    std::string text;
    run("qpdf " + args + " " + sh_quote(path) + " 2>&1", &text);
    std::set<std::string> out;
    static const std::regex noise(
        "^(checking |PDF Version|File is |No syntax or stream|errors that qpdf cannot|qpdf: operation "
        "succeeded|no linearization errors)");
    size_t s = 0;
    while (s < text.size()) {
        size_t e = text.find('\n', s);
        if (e == std::string::npos) e = text.size();
        std::string l = text.substr(s, e - s);
        s = e + 1;
        for (size_t p; (p = l.find(path)) != std::string::npos;) l.erase(p, path.size());
        l = std::regex_replace(l, std::regex("^[: ]+"), "");
        l = std::regex_replace(l, std::regex("[0-9]+"), "#");
        if (l.empty() || std::regex_search(l, noise)) continue;
        out.insert(l);
    }
    return out;
}

#ifndef MORVEL_SANITIZED
std::string render(const std::string& pdf, const std::string& prefix) {
    if (run("pdftoppm -r 20 -l 3 " + sh_quote(pdf) + " " + sh_quote(prefix) + " >/dev/null 2>&1") != 0)
        return "";
    std::string all;
    for (int p = 1; p <= 3; p++) {
        for (const char* fmt : {"%s-%d.ppm", "%s-%02d.ppm", "%s-%03d.ppm"}) {
            char name[4096];
            snprintf(name, sizeof name, fmt, prefix.c_str(), p);
            if (testutil::file_exists(name)) all += read_file(name) + "|";
        }
    }
    return all;
}
#endif

std::string tool_output(const std::string& cmd) {
    std::string out;
    run(cmd + " 2>/dev/null", &out);
    return out;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t s = 0;
    while (s < text.size()) {
        size_t e = text.find('\n', s);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(s, e - s));
        s = e + 1;
    }
    return out;
}

// Document information entries as pdfinfo shows them.
std::set<std::string> info_entries(const std::string& pdf) {
    static const std::regex wanted("^(Title|Subject|Keywords|Author|Creator|Producer|CreationDate|ModDate|Form):");
    std::set<std::string> keep;
    for (const std::string& l : lines_of(tool_output("pdfinfo " + sh_quote(pdf))))
        if (std::regex_search(l, wanted)) keep.insert(l);
    return keep;
}

// Outline titles and form field names, in qpdf's order.
std::vector<std::string> outline_and_fields(const std::string& pdf) {
    std::string json = tool_output("qpdf --json --json-key=outlines --json-key=acroform " + sh_quote(pdf));
    static const std::regex names("\"(title|fullname)\": \"[^\"]*\"");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), names); it != std::sregex_iterator(); ++it)
        out.push_back(it->str());
    return out;
}

// The outputs' digests as recorded by scripts/corpus-digests.sh, by
// "form/file".
const std::map<std::string, std::string>& recorded_digests() {
    static const std::map<std::string, std::string> digests = [] {
        std::map<std::string, std::string> d;
        for (const std::string& l : lines_of(read_file(MORVEL_SOURCE_DIR "/tests/corpus_outputs.sha256")))
            if (l.size() > 66) d[l.substr(66)] = l.substr(0, 64);
        return d;
    }();
    return digests;
}

std::string sha256_of(const std::string& path) {
    std::string out = tool_output("sha256sum " + sh_quote(path));
    return out.substr(0, 64);
}

void PrintTo(const corpus_row& row, std::ostream* os) { *os << row.file; }

// The output form a case asks for: morvel_optimize_ex's flags.
enum output_form : unsigned { DEFAULT_FORM = 0, COMPACT_FORM = MORVEL_OBJECT_STREAMS };

class CorpusOutput : public ::testing::TestWithParam<std::tuple<corpus_row, output_form>> {};

TEST_P(CorpusOutput, PassesIndependentChecks) {
    const corpus_row& row = std::get<0>(GetParam());
    output_form form = std::get<1>(GetParam());
    std::string in = testutil::corpus_dir() + "/" + row.file;
    scratch_dir dir;
    std::string out = dir.file("out.pdf");
    int ok = morvel_optimize_ex(in.c_str(), out.c_str(), form);
    if (row.encrypted) {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(std::string(morvel_last_error()),
                  "encrypted PDFs are not supported \xE2\x80\x94 decrypt first: '" + in + "'");
        return;
    }
    if (row.pages < 1) GTEST_SKIP() << "qpdf finds no pages in the input";
    ASSERT_EQ(ok, 1) << morvel_last_error();
    EXPECT_EQ(morvel_check(out.c_str()), 1) << morvel_last_error();
    // Byte for byte what was recorded: speed work must not change a byte.
    auto recorded = recorded_digests().find((form == COMPACT_FORM ? "compact/" : "default/") + row.file);
    if (recorded != recorded_digests().end() && testutil::have_tool("sha256sum")) {
        EXPECT_EQ(sha256_of(out), recorded->second) << "the output differs from the one recorded in "
                                                       "tests/corpus_outputs.sha256 (scripts/corpus-digests.sh)";
    }
    {
        std::string input = read_file(in);
        void* bytes = nullptr;
        size_t len = 0;
        ASSERT_EQ(morvel_optimize_mem(input.data(), input.size(), &bytes, &len, form), 1) << morvel_last_error();
        bool same = std::string(static_cast<const char*>(bytes), len) == read_file(out);
        morvel_free(bytes);
        EXPECT_TRUE(same) << "the in-memory call gives other bytes";
    }
    if (form == DEFAULT_FORM) {
        std::string plain = dir.file("plain.pdf");
        ASSERT_EQ(morvel_optimize(in.c_str(), plain.c_str()), 1) << morvel_last_error();
        EXPECT_TRUE(read_file(plain) == read_file(out)) << "flags 0 and morvel_optimize differ";
    }
    if (!testutil::have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";

    // Silent, but for damage copied from the input (qpdf reports it there
    // too); a hint-table warning is never the input's.
    std::set<std::string> before = qpdf_messages("--check", in);
    auto from_input = [&](const std::string& m) { return before.count(m) && !hint_warning(m); };
    for (const std::string& m : qpdf_messages("--check-linearization", out))
        if (!from_input(m)) ADD_FAILURE() << "linearization: " << m;
    // An input qpdf gives up on reports less than it would have found.
    if (!row.qpdf_errors) {
        for (const std::string& m : qpdf_messages("--check", out))
            if (!from_input(m)) ADD_FAILURE() << "check: " << m;
    }
    EXPECT_EQ(tool_output("qpdf --show-npages " + sh_quote(out)), std::to_string(row.pages) + "\n");
    // The output may show more information than a reader of the input finds
    // (an /Info that only an earlier trailer names), never less.
    std::set<std::string> info_out = info_entries(out);
    for (const std::string& l : info_entries(in)) EXPECT_TRUE(info_out.count(l)) << "lost: " << l;
    if (!row.qpdf_errors) {
        EXPECT_TRUE(outline_and_fields(out) == outline_and_fields(in)) << "outlines or form fields differ";
    }
#ifndef MORVEL_SANITIZED
    if (!testutil::have_tool("pdftoppm")) return;
    std::string want = render(in, dir.file("in"));
    if (!want.empty()) {
        EXPECT_TRUE(render(out, dir.file("out")) == want) << "pages render differently";
    }
#endif
}

std::string row_name(const ::testing::TestParamInfo<std::tuple<corpus_row, output_form>>& info) {
    const std::string& file = std::get<0>(info.param).file;
    std::string n = file.substr(0, file.size() - 4);
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return (std::get<1>(info.param) == COMPACT_FORM ? "compact_" : "") + n;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusOutput,
                         ::testing::Combine(::testing::ValuesIn(corpus_rows()),
                                            ::testing::Values(DEFAULT_FORM, COMPACT_FORM)),
                         row_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusOutput);

}  // namespace
