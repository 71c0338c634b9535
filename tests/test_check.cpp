// The linearization check: every step, its message, and the error text's
// lifecycle around it.
#include <gtest/gtest.h>

#include <string>

#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::scratch_dir;
using testutil::write_file;

// A file of exactly `size` bytes whose first object holds `dict`; "{L}" in
// the dictionary becomes the size.
std::string lin_file(std::string dict, size_t size = 2000, const std::string& head = "%PDF-1.4\n") {
    for (size_t p; (p = dict.find("{L}")) != std::string::npos;) dict.replace(p, 3, std::to_string(size));
    std::string s = head + "1 0 obj\n" + dict + "\nendobj\n";
    if (s.size() < size) s += std::string(size - s.size(), ' ');
    return s;
}

const char* good = "<< /Linearized 1 /L {L} /H [ 600 120 ] /O 7 /E 900 /N 3 /T 1800 >>";

struct check_case {
    const char* name;
    std::string bytes;
    const char* message;  // nullptr: the check passes
};

std::string replace(std::string s, const std::string& from, const std::string& to) {
    s.replace(s.find(from), from.size(), to);
    return s;
}

TEST(Check, StepsAndMessages) {
    std::string g = good;
    std::vector<check_case> cases = {
        {"passes", lin_file(g), nullptr},
        {"63 bytes", std::string("%PDF-1.4\n") + std::string(54, 'x'), "file '%s' is too small (63 bytes)"},
        {"no header", lin_file(g, 2000, "%PDX-1.4\n"), "file does not start with %PDF-"},
        {"header only at 1024", "%PDF-1.4\n" + std::string(1100, ' ') + "1 0 obj <<>> endobj",
         "no object header found in first 1024 bytes"},
        {"object 0 only", "%PDF-1.4\n0 0 obj << /Linearized 1 >> endobj" + std::string(100, ' '),
         "no object header found in first 1024 bytes"},
        {"object 0 skipped", lin_file(g, 2000, "%PDF-1.4\n0 0 obj\n<< >>\nendobj\n"), nullptr},
        {"array first object", lin_file("[1 2] endobj\n2 0 obj " + g),
         "linearization dictionary not found in first object"},
        {"no /Linearized", lin_file("<< /L {L} >>"), "/Linearized key missing in first object dictionary"},
        {"/Linearized true", lin_file(replace(g, "/Linearized 1", "/Linearized true")),
         "invalid /Linearized version value"},
        {"/Linearized -1", lin_file(replace(g, "/Linearized 1", "/Linearized -1")),
         "invalid /Linearized version value"},
        {"/Linearized 1.0", lin_file(replace(g, "/Linearized 1", "/Linearized 1.0")), nullptr},
        {"/Linearized +1", lin_file(replace(g, "/Linearized 1", "/Linearized +1")), nullptr},
        {"no /L", lin_file("<< /Linearized 1 /Length 5 >>"), "/L key missing in linearization dictionary"},
        {"/L one less", lin_file(replace(g, "/L {L}", "/L 1999")), "/L mismatch: declared 1999 vs actual 2000"},
        {"/L missing number", lin_file(replace(g, "/L {L}", "/L /x")), "/L mismatch: declared -1 vs actual 2000"},
        {"no /H", lin_file(replace(g, "/H [ 600 120 ]", "")), "/H key missing in linearization dictionary"},
        {"/H 5", lin_file(replace(g, "[ 600 120 ]", "5")), "/H value is not an array"},
        {"/H [ 0 200 ]", lin_file(replace(g, "[ 600 120 ]", "[ 0 200 ]")),
         "/H array does not contain valid offset and length"},
        {"/H four values", lin_file(replace(g, "[ 600 120 ]", "[ 1000 200 50 300 ]")), nullptr},
        {"no /O", lin_file(replace(g, "/O 7", "")), "/O key missing in linearization dictionary"},
        {"/O 0", lin_file(replace(g, "/O 7", "/O 0")), "/O value invalid"},
        {"no /E", lin_file(replace(g, "/E 900", "/Encrypt 5")), "/E key missing in linearization dictionary"},
        {"/E = L", lin_file(replace(g, "/E 900", "/E 2000")), nullptr},
        {"/E = L + 1", lin_file(replace(g, "/E 900", "/E 2001")), "/E value invalid (2001)"},
        {"/E missing number", lin_file(replace(g, "/E 900", "/E /x")), "/E value invalid (-1)"},
        {"no /N", lin_file(replace(g, "/N 3", "")), "/N key missing in linearization dictionary"},
        {"/N 0", lin_file(replace(g, "/N 3", "/N 0")), "/N value invalid (0)"},
        {"no /T", lin_file(replace(g, "/T 1800", "")), "/T key missing in linearization dictionary"},
        {"/T = L", lin_file(replace(g, "/T 1800", "/T 2000")), "/T value invalid (2000)"},
        {"/T = L - 1", lin_file(replace(g, "/T 1800", "/T 1999")), nullptr},
        // A nested dictionary's key that comes first is the one used.
        {"nested key first", lin_file(replace(g, "/Linearized 1", "/X << /N 0 >> /Linearized 1")),
         "/N value invalid (0)"},
    };
    scratch_dir dir;
    std::string path = dir.file("f.pdf");
    for (const auto& c : cases) {
        write_file(path, c.bytes);
        int r = morvel_check(path.c_str());
        if (!c.message) {
            EXPECT_EQ(r, 1) << c.name << ": " << morvel_last_error();
            EXPECT_STREQ(morvel_last_error(), "") << c.name;
        } else {
            std::string want = c.message;
            if (auto p = want.find("%s"); p != std::string::npos) want.replace(p, 2, path);
            EXPECT_EQ(r, 0) << c.name;
            EXPECT_EQ(std::string(morvel_last_error()), want) << c.name;
        }
    }
}

TEST(Check, SizeLimits) {
    scratch_dir dir;
    std::string path = dir.file("small.pdf");
    write_file(path, std::string(64, ' '));  // 64 bytes passes the size step
    EXPECT_EQ(morvel_check(path.c_str()), 0);
    EXPECT_STREQ(morvel_last_error(), "file does not start with %PDF-");

    EXPECT_EQ(morvel_check(nullptr), 0);
    EXPECT_STREQ(morvel_last_error(), "input_path is NULL or empty");
    EXPECT_EQ(morvel_check(""), 0);
    EXPECT_STREQ(morvel_last_error(), "input_path is NULL or empty");

    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(morvel_check(missing.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot stat '" + missing + "'");

    // A sparse file of 2 GiB: its size must not wrap into a small number.
    std::string big = dir.file("big.pdf");
    write_file(big, lin_file(good));
    if (truncate(big.c_str(), 2147483648LL) == 0) {
        EXPECT_EQ(morvel_check(big.c_str()), 0);
        EXPECT_EQ(std::string(morvel_last_error()), "file '" + big + "' is too large (2147483648 bytes)");
    }
}

TEST(Check, UnreadableFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root can open any file";
    scratch_dir dir;
    std::string path = dir.file("locked.pdf");
    write_file(path, lin_file(good));
    chmod(path.c_str(), 0);
    EXPECT_EQ(morvel_check(path.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot open '" + path + "'");
}

// A dictionary cut off by the 1023-byte limit is examined as far as it was read.
TEST(Check, DictionaryCutAtHeadLimit) {
    scratch_dir dir;
    std::string path = dir.file("cut.pdf");
    std::string dict = "<< /Linearized 1 /L {L} /H [ 600 120 ] /O 7 /E 900 /N 3 /T 1800 /X (" +
                       std::string(1100, 'y') + ") >>";
    write_file(path, lin_file(dict));
    EXPECT_EQ(morvel_check(path.c_str()), 1) << morvel_last_error();

    std::string late = "<< /Linearized 1 /L {L} /X (" + std::string(1100, 'y') + ") /H [ 600 120 ] >>";
    write_file(path, lin_file(late));
    EXPECT_EQ(morvel_check(path.c_str()), 0);
    EXPECT_STREQ(morvel_last_error(), "/H key missing in linearization dictionary");
}

}  // namespace
