// Whole outputs of morvel_optimize: the fixed points of the layout, what the
// output keeps from the input, the failure paths, and (when the corpus and
// the tools are present) independent checks of every corpus file's output.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "base/error.h"
#include "morvel.h"
#include "test_util.h"
#include "write/writer.h"

namespace {

using testutil::pdf_builder;
using testutil::read_file;
using testutil::run;
using testutil::scratch_dir;
using testutil::write_file;

// The integer after the first "/key " in text, or -1.
long value_after(const std::string& text, const std::string& key) {
    size_t p = text.find(key + " ");
    if (p == std::string::npos) return -1;
    return strtol(text.c_str() + p + key.size() + 1, nullptr, 10);
}

// Object number of the "N 0 obj" header at offset, or -1.
long object_at(const std::string& file, long offset) {
    if (offset < 0 || static_cast<size_t>(offset) >= file.size()) return -1;
    std::cmatch m;
    static const std::regex head("^(\\d+) 0 obj\\n");
    if (!std::regex_search(file.c_str() + offset, m, head)) return -1;
    return strtol(m[1].first, nullptr, 10);
}

// Every cross-reference entry of a section starting at offset: number -> offset.
std::map<long, long> section_entries(const std::string& file, size_t at) {
    std::map<long, long> out;
    long first = 0, count = 0;
    if (sscanf(file.c_str() + at, "xref\n%ld %ld\n", &first, &count) != 2) return out;
    size_t p = file.find('\n', file.find('\n', at) + 1) + 1;
    for (long i = 0; i < count; i++, p += 20) out[first + i] = strtol(file.c_str() + p, nullptr, 10);
    return out;
}

struct optimized {
    std::string in, out, bytes;
};

optimized optimize_text(const scratch_dir& dir, const std::string& pdf) {
    optimized o{dir.file("in.pdf"), dir.file("out.pdf"), ""};
    write_file(o.in, pdf);
    EXPECT_EQ(morvel_optimize(o.in.c_str(), o.out.c_str()), 1) << morvel_last_error();
    EXPECT_STREQ(morvel_last_error(), "");
    o.bytes = read_file(o.out);
    return o;
}

TEST(Output, FixedPointsOfTheLayout) {
    scratch_dir dir;
    optimized o = optimize_text(dir, testutil::simple_pdf(3));
    const std::string& f = o.bytes;
    ASSERT_GT(f.size(), 300u);
    EXPECT_EQ(f.substr(0, 15), "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    long k = object_at(f, 15);
    ASSERT_GT(k, 0);
    EXPECT_EQ(f[270], '\n');
    EXPECT_EQ(f.compare(271, 5, "xref\n"), 0);
    std::map<long, long> first = section_entries(f, 271);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.begin()->first, k);
    EXPECT_EQ(f.substr(f.find('\n', 276) + 1, 20), "0000000015 00000 n \n");

    std::string lin = f.substr(15, 256);
    EXPECT_EQ(value_after(lin, "/L"), static_cast<long>(f.size()));
    EXPECT_EQ(value_after(lin, "/O"), k + 3);
    EXPECT_EQ(value_after(lin, "/N"), 3);
    long hint = value_after(lin, "/H [");
    EXPECT_EQ(object_at(f, hint), k + 2);
    // The catalog directly follows the first-page section's "%%EOF".
    long catalog = first[k + 1];
    EXPECT_EQ(f.compare(static_cast<size_t>(catalog) - 6, 6, "%%EOF\n"), 0);
    EXPECT_EQ(object_at(f, catalog), k + 1);
    // /E is just past the first page's objects: the next object is number 1.
    long e = value_after(lin, "/E");
    EXPECT_EQ(object_at(f, e), 1);
    // /T is the line feed before the main section's first entry.
    long t = value_after(lin, "/T");
    EXPECT_EQ(f.compare(static_cast<size_t>(t), 21, "\n0000000000 65535 f \n"), 0);
    EXPECT_EQ(f.substr(f.size() - 23), ">>\nstartxref\n271\n%%EOF\n");

    // Every entry of both sections points at its object.
    size_t main_at = static_cast<size_t>(t) - (std::string("xref\n0 ") + std::to_string(k)).size();
    std::map<long, long> entries = section_entries(f, main_at);
    entries.insert(first.begin(), first.end());
    EXPECT_EQ(entries.size(), static_cast<size_t>(k) + first.size());
    EXPECT_EQ(entries.rbegin()->first + 1, static_cast<long>(entries.size()));  // numbers 0..M-1
    entries.erase(0);
    for (auto [num, off] : entries) EXPECT_EQ(object_at(f, off), num) << "object " << num;
    EXPECT_EQ(morvel_check(o.out.c_str()), 1) << morvel_last_error();
}

TEST(Output, TrailersCarryInfoAndId) {
    scratch_dir dir;
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>", 3);
    b.add("<< /Title (Doc) >>", 4);
    optimized o = optimize_text(dir, b.build(1, " /Info 4 0 R /ID [<0102><0304>]"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(o.bytes, m, std::regex("trailer << /Root (\\d+) 0 R /Info (\\d+) 0 R /Size \\d+ /Prev \\d{10} /ID \\[<0102><0304>\\] >>")));
    std::string info = m[2];
    EXPECT_NE(o.bytes.find("trailer << /Size " + std::to_string(std::stol(m[1]) - 1) + " /Root " +
                           std::string(m[1]) + " 0 R /Info " + info + " 0 R /ID [<0102><0304>] >>"),
              std::string::npos);
    EXPECT_NE(o.bytes.find("\n" + info + " 0 obj\n<< /Title (Doc) >>"), std::string::npos);
}

TEST(Output, SamePathIsReplacedAndFailuresLeaveTheOutputAlone) {
    scratch_dir dir;
    std::string path = dir.file("doc.pdf");
    write_file(path, testutil::simple_pdf(2));
    ASSERT_EQ(morvel_optimize(path.c_str(), path.c_str()), 1) << morvel_last_error();
    EXPECT_EQ(morvel_check(path.c_str()), 1) << morvel_last_error();

    std::string bad = dir.file("nopages.pdf");
    write_file(bad, "1 0 obj\n<< /Type /Font >>\nendobj\n");
    std::string out = dir.file("existing.pdf");
    write_file(out, "keep me");
    EXPECT_EQ(morvel_optimize(bad.c_str(), out.c_str()), 0);
    EXPECT_EQ(read_file(out), "keep me");

    std::string missing = dir.file("missing/out.pdf");
    EXPECT_EQ(morvel_optimize(path.c_str(), missing.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot open '" + missing + "' for writing");
    EXPECT_FALSE(testutil::file_exists(missing));
}

TEST(Output, OutputsOfTwoGibibytesAreRefused) {
    // A stream claiming 2 GiB of data: the layout fails before any byte is
    // written, and the data itself is never touched.
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    write_file(in, testutil::simple_pdf(1));
    document doc;
    page_layout layout;
    ASSERT_TRUE(read_input_file(in.c_str(), doc.input).ok());
    ASSERT_TRUE(load_document(doc).ok());
    ASSERT_TRUE(analyze_pages(doc, layout).ok());
    for (pdf_obj& rec : doc.objects.items)
        if (rec.has_stream) rec.stream_len = 1ull << 31;
    std::vector<out_slot> slots(static_cast<size_t>(layout.lin_num) + 3 + layout.page_groups[0].size());
    serialize_objects(doc.objects, layout, slots);
    output_image image;
    status s = build_output(doc, layout, slots, image);
    EXPECT_EQ(testutil::message_of(s, in.c_str()), "linearized output of '" + in + "' would exceed 2 GiB");
}

TEST(Output, WriteErrorOnAFullFileSystem) {
    scratch_dir dir;
    std::string mnt = dir.file("small");
    mkdir(mnt.c_str(), 0700);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct unmount {
        std::string path;
        ~unmount() { umount(path.c_str()); }
    } unmount_later{mnt};
    std::string in = dir.file("in.pdf");
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>", 3);
    b.add_stream("", std::string(100000, 'x'), 4);
    write_file(in, b.build(1));
    std::string out = mnt + "/out.pdf";
    write_file(out, "old");
    EXPECT_EQ(morvel_optimize(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot write '" + out + "'");
    EXPECT_EQ(read_file(out), "old");
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(mnt)) entries++, (void)e;
    EXPECT_EQ(entries, 1u);  // no temporary file left behind
}

#ifndef MORVEL_SANITIZED
// The process's address-space size in bytes.
size_t vm_size() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) return strtoull(line.c_str() + 7, nullptr, 10) * 1024;
    return 0;
}

TEST(Output, RunningOutOfMemoryIsReported) {
    // A child whose address space leaves room for the input and its object
    // table but not for the serialised copy of one huge dictionary: the call
    // fails with the message and leaves the output as it was.
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    const size_t big = 48u << 20;
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R >>", 3);
    std::string array(big, ' ');
    for (size_t i = 0; i < big; i += 2) array[i] = '1';
    b.add("<< /A [" + array + "] >>", 4);
    array.clear();
    array.shrink_to_fit();
    write_file(in, b.build(1));
    std::string out = dir.file("out.pdf");
    write_file(out, "old");
    pid_t child = fork();
    if (child == 0) {
        rlim_t now = static_cast<rlim_t>(vm_size());
        struct rlimit lim = {now + big * 5 / 2, now + big * 5 / 2};
        setrlimit(RLIMIT_AS, &lim);
        int ok = morvel_optimize(in.c_str(), out.c_str());
        std::string want = "out of memory optimizing '" + in + "'";
        _exit(ok == 0 && want == morvel_last_error() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(out), "old");
}
#endif

// ---- Independent checks over the corpus -------------------------------

struct corpus_row {
    std::string file;
    long pages;
    bool encrypted;
    bool qpdf_errors;  // qpdf --check of the input fails
};

std::vector<corpus_row> corpus_rows() {
    std::vector<corpus_row> rows;
    std::ifstream in(std::string(MORVEL_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::map<std::string, size_t> col;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        size_t s = 0;
        for (size_t t; (t = line.find('\t', s)) != std::string::npos; s = t + 1) f.push_back(line.substr(s, t - s));
        f.push_back(line.substr(s));
        if (f.size() < 12) continue;
        if (col.empty()) {
            for (size_t i = 0; i < f.size(); i++) col[f[i]] = i;
            continue;
        }
        rows.push_back({f[col["file"]], strtol(f[col["pages"]].c_str(), nullptr, 10),
                        f[col["encrypted"]] == "yes", f[col["qpdf_check"]] == "errors"});
    }
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

void PrintTo(const corpus_row& row, std::ostream* os) { *os << row.file; }

class CorpusOutput : public ::testing::TestWithParam<corpus_row> {};

TEST_P(CorpusOutput, PassesIndependentChecks) {
    const corpus_row& row = GetParam();
    std::string in = std::string(MORVEL_CORPUS_DIR) + "/" + row.file;
    scratch_dir dir;
    std::string out = dir.file("out.pdf");
    int ok = morvel_optimize(in.c_str(), out.c_str());
    if (row.encrypted) {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(std::string(morvel_last_error()),
                  "encrypted PDFs are not supported \xE2\x80\x94 decrypt first: '" + in + "'");
        return;
    }
    if (row.pages < 1) GTEST_SKIP() << "qpdf finds no pages in the input";
    ASSERT_EQ(ok, 1) << morvel_last_error();
    EXPECT_EQ(morvel_check(out.c_str()), 1) << morvel_last_error();
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

std::string row_name(const ::testing::TestParamInfo<corpus_row>& info) {
    std::string n = info.param.file.substr(0, info.param.file.size() - 4);
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusOutput, ::testing::ValuesIn(corpus_rows()), row_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusOutput);

}  // namespace
