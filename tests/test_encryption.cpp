// Encryption refusal: the windows around trailers and cross-reference
// streams, and the message a refused file gives.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "load/encryption.h"
#include "load/landmarks.h"
#include "pdf/lexer.h"
#include "morvel.h"
#include "test_util.h"

namespace {

bool encrypted(const std::string& s) { return mentions_encryption(s.data(), static_cast<int32_t>(s.size())); }

TEST(Encryption, TrailerWindows) {
    struct {
        std::string text;
        bool want;
    } cases[] = {
        {"trailer\n<< /Encrypt 12 0 R >>\nstartxref\n9\n", true},
        {"trailer\n<< /Size 3 >>\nstartxref\n9\n/Encrypt 12 0 R", false},  // after startxref
        {"trailer\n<< /Size 3 >>\n/Encrypt", true},  // no startxref: runs to the end
        {"trailer<</EncryptMetadata false>>startxref", true},                // raw 8 bytes
        {"/Encrypt 1 0 R trailer<<>>startxref", false},                      // before the trailer
        {"xtrailer<</Encrypt 1 0 R>>", false},                               // not a keyword
        {"trailer<</A 1>>startxref trailer<</Encrypt 1 0 R>>startxref", true},
        {"trailer trailer trailer <</Encrypt 1 0 R>>", true},  // overlapping windows
        {"trailer/Encryp", false},
    };
    for (auto& c : cases) EXPECT_EQ(encrypted(c.text), c.want) << c.text;
}

TEST(Encryption, CrossReferenceStreamWindows) {
    std::string pad2000(2000, ' '), pad3000(3000, ' ');
    struct {
        std::string text;
        bool want;
    } cases[] = {
        {"<< /Type /XRef /Encrypt 9 0 R >> stream", true},
        {"<< /Encrypt 9 0 R /Type /XRef >> stream", true},
        {"/Encrypt" + pad2000 + "/XRef stream", true},
        {"/Encrypt" + pad3000 + "/XRef stream", false},
        {"<< /Type /XRef >> stream /Encrypt", false},  // after the stream keyword
        {"<< /XRefStm 12 /Encrypt 3 0 R >>", true},    // raw "/XRef" matches /XRefStm
        {"/XRef endstream /Encrypt", true},            // "stream" inside endstream is no keyword
        {"/XRef", false},
    };
    for (auto& c : cases) EXPECT_EQ(encrypted(c.text), c.want) << c.text.substr(0, 60);

    // The window after "/XRef" ends 2048 bytes after it.
    std::string head = "/XRef";
    std::string fits = head + std::string(2040 - head.size(), ' ') + "/Encrypt";
    std::string over = head + std::string(2041 - head.size(), ' ') + "/Encrypt";
    EXPECT_TRUE(encrypted(fits));
    EXPECT_FALSE(encrypted(over));
    EXPECT_FALSE(encrypted(std::string("/XRe")));
}

// The block search finds what a search byte by byte finds, with the words
// at every offset within a block, across block edges and at the very end.
TEST(Encryption, LandmarksAtEveryAlignment) {
    const std::string words[] = {"/Encrypt", "/XRef", "trailer", "xtrailer ", "/EncryptX", "/X", "tr"};
    for (size_t len : {1u, 7u, 31u, 32u, 33u, 64u, 97u, 200u}) {
        for (size_t at = 0; at < len; at++) {
            for (const std::string& w : words) {
                std::string text(len, ' ');
                for (size_t i = 0; i < len; i++) text[i] = "/Et r "[(i * 7 + at) % 6];
                text.replace(at, std::min(w.size(), len - at), w.substr(0, len - at));
                const int32_t n = static_cast<int32_t>(text.size());
                landmarks want;
                for (int32_t i = 0; i < n; i++) {
                    if (text.compare(static_cast<size_t>(i), 8, "/Encrypt") == 0) want.encrypt.push_back(i);
                    else if (text.compare(static_cast<size_t>(i), 5, "/XRef") == 0) want.xref.push_back(i);
                    else if (text.compare(static_cast<size_t>(i), 7, "trailer") == 0 && kw_at(text.c_str(), i, n, "trailer"))
                        want.trailer.push_back(i);
                }
                landmarks got = find_landmarks(text.c_str(), n);
                EXPECT_EQ(got.encrypt, want.encrypt) << len << " " << at << " " << w;
                EXPECT_EQ(got.xref, want.xref) << len << " " << at << " " << w;
                EXPECT_EQ(got.trailer, want.trailer) << len << " " << at << " " << w;
            }
        }
    }
}

TEST(Encryption, ManyWindowsStayLinear) {
    // Thousands of overlapping windows over the same bytes.
    std::string s;
    for (int i = 0; i < 20000; i++) s += "trailer /XRef ";
    s += "startxref ";
    EXPECT_FALSE(encrypted("/Encrypt" + std::string(3000, ' ') + s));
    EXPECT_TRUE(encrypted(s + "/Encrypt"));
}

TEST(Encryption, RefusedFileKeepsTheOutput) {
    testutil::scratch_dir dir;
    std::string in = dir.file("enc.pdf");
    testutil::write_file(in, testutil::simple_pdf(1) +
                       "trailer\n<< /Size 9 /Encrypt 8 0 R >>\nstartxref\n0\n%%EOF\n");
    std::string out = dir.file("out.pdf");
    testutil::write_file(out, "sentinel");
    EXPECT_EQ(morvel_optimize(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "encrypted PDFs are not supported \xE2\x80\x94 decrypt first: '" + in + "'");
    EXPECT_EQ(testutil::read_file(out), "sentinel");
}

}  // namespace
