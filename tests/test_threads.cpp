// Calls from many threads at once: every output and every message must be
// what the same call gives alone, and each thread reads its own message.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/parallel.h"
#include "fixtures.h"
#include "hostile_pdfs.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::read_file;
using testutil::scratch_dir;
using testutil::write_file;

struct job {
    std::string in;
    std::string want_bytes;    // the output alone, empty when the call fails
    std::string want_message;  // optimize's message
    int want_check;            // check on the input
    std::string want_check_message;
};

TEST(Threads, OverlappingCallsKeepTheirOwnResultsAndMessages) {
    scratch_dir dir;
    std::vector<job> jobs;
    for (int k = 0; k < 4; k++) {
        job j;
        j.in = dir.file("doc" + std::to_string(k) + ".pdf");
        write_file(j.in, testutil::simple_pdf(2 + 3 * k));
        jobs.push_back(j);
    }
    jobs.push_back({dir.file("missing.pdf"), "", "", 0, ""});
    write_file(dir.file("junk.pdf"), "%PDF-1.4\nno objects at all, only words\n" + std::string(100, 'x'));
    jobs.push_back({dir.file("junk.pdf"), "", "", 0, ""});

    // What each call gives on its own.
    for (job& j : jobs) {
        std::string out = dir.file("alone.pdf");
        if (morvel_optimize(j.in.c_str(), out.c_str())) {
            j.want_bytes = read_file(out);
            ASSERT_EQ(morvel_check(out.c_str()), 1);
        }
        j.want_message = morvel_last_error();
        j.want_check = morvel_check(j.in.c_str());
        j.want_check_message = morvel_last_error();
    }
    ASSERT_FALSE(jobs[4].want_message.empty());
    ASSERT_FALSE(jobs[5].want_message.empty());

    const int threads = 8, rounds = 12;
    std::atomic<int> faults{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            const char* text = morvel_last_error();
            std::string out = dir.file("out" + std::to_string(t) + ".pdf");
            for (int r = 0; r < rounds; r++) {
                const job& j = jobs[static_cast<size_t>(t + r) % jobs.size()];
                int ok = morvel_optimize(j.in.c_str(), out.c_str());
                if (ok != !j.want_bytes.empty() || j.want_message != morvel_last_error()) faults++;
                if (ok && (read_file(out) != j.want_bytes || morvel_check(out.c_str()) != 1 || *morvel_last_error()))
                    faults++;
                if (morvel_check(j.in.c_str()) != j.want_check || j.want_check_message != morvel_last_error())
                    faults++;
                if (morvel_last_error() != text) faults++;  // the same buffer for the thread's lifetime
            }
            // Emptying the text is the calling thread's business only.
            morvel_optimize(jobs[4].in.c_str(), out.c_str());
            morvel_init();
            if (*morvel_last_error()) faults++;
            morvel_optimize(jobs[4].in.c_str(), out.c_str());
            morvel_cleanup();
            if (*morvel_last_error()) faults++;
        });
    }
    for (std::thread& th : pool) th.join();
    EXPECT_EQ(faults.load(), 0);
}

TEST(Threads, EachThreadSeesItsOwnLastMessage) {
    scratch_dir dir;
    std::string a = dir.file("a.pdf"), b = dir.file("b.pdf");
    std::atomic<int> stage{0};
    std::string seen_by_other;
    std::thread other([&] {
        morvel_check(b.c_str());
        stage = 1;
        while (stage != 2) std::this_thread::yield();
        seen_by_other = morvel_last_error();
    });
    while (stage != 1) std::this_thread::yield();
    morvel_check(a.c_str());
    stage = 2;
    other.join();
    EXPECT_EQ(std::string(morvel_last_error()), "cannot stat '" + a + "'");
    EXPECT_EQ(seen_by_other, "cannot stat '" + b + "'");
}

// Pages with enough annotations that the compact form compresses its
// object streams on threads of its own, inside calls that overlap.
std::string annotated_pages(int pages, int annots_per_page) {
    hostile::file_writer w;
    std::string kids;
    long next = 3 + pages;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int p = 0; p < pages; p++) {
        std::string annots;
        for (int a = 0; a < annots_per_page; a++, next++) {
            w.add(next, "<< /Type /Annot /Subtype /Link /Rect [ 10 " + std::to_string(a) + " 90 " +
                            std::to_string(a + 9) + " ] /Border [ 0 0 0 ] /A << /S /URI /URI (https://example.com/" +
                            std::to_string(p) + "/" + std::to_string(a) + ") >> >>");
            annots += hostile::ref(next) + " ";
        }
        w.add(3 + p, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [ " + annots + "] >>");
        kids += hostile::ref(3 + p) + " ";
    }
    w.add(2, "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>");
    return w.finish(1);
}

TEST(Threads, CompactFormAlongsideOtherCalls) {
    scratch_dir dir;
    std::string in = dir.file("annotated.pdf"), alone = dir.file("alone.pdf");
    write_file(in, annotated_pages(100, 40));
    ASSERT_EQ(morvel_optimize_ex(in.c_str(), alone.c_str(), MORVEL_OBJECT_STREAMS), 1) << morvel_last_error();
    std::string want = read_file(alone);
    std::atomic<int> faults{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < 3; t++) {
        pool.emplace_back([&, t] {
            std::string out = dir.file("compact" + std::to_string(t) + ".pdf");
            for (int r = 0; r < 3; r++)
                if (!morvel_optimize_ex(in.c_str(), out.c_str(), MORVEL_OBJECT_STREAMS) || read_file(out) != want)
                    faults++;
        });
    }
    for (std::thread& t : pool) t.join();
    EXPECT_EQ(faults, 0);
}

// Enough pages, objects and bytes that reading, searching, reading the
// references, checking for signatures and serialising all spread over
// threads. Packed, each page has resources of its own, kept in object
// streams (stored, not compressed) with enough bytes that decoding them
// spreads too.
std::string many_pages(int pages, bool packed = false) {
    hostile::file_writer w;
    std::string kids, data(2000, ' ');
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>('A' + (i * 7) % 26);
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(3, "<< /Font << /F1 4 0 R >> >>");
    w.add(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const long first_resources = 10 + 2 * static_cast<long>(pages), per_stream = 500;
    for (int p = 0; p < pages; p++) {
        long page = 10 + 2 * p;
        std::string resources = packed ? hostile::ref(first_resources + p) : hostile::ref(3);
        w.add(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Resources " + resources +
                        " /Contents " + hostile::ref(page + 1) + " >>");
        w.add_stream(page + 1, "", data);
        kids += hostile::ref(page) + " ";
    }
    for (long first = 0; packed && first < pages; first += per_stream) {
        std::string header, objects;
        for (long k = first; k < std::min<long>(pages, first + per_stream); k++) {
            header += std::to_string(first_resources + k) + " " + std::to_string(objects.size()) + " ";
            objects += "<< /Font << /F1 4 0 R >> /Tag (" + data.substr(0, 100 + k % 50) + ") >>\n";
        }
        w.add_stream(first_resources + pages + first / per_stream,
                     "/Type /ObjStm /N " + std::to_string(std::min<long>(per_stream, pages - first)) + " /First " +
                         std::to_string(header.size()),
                     header + objects);
    }
    w.add(2, "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>");
    return w.finish(1);
}

TEST(Threads, LargeDocumentsGiveTheSameBytesOnOneThreadOrMany) {
    scratch_dir dir;
    std::string in = dir.file("large.pdf"), one = dir.file("one.pdf"), many = dir.file("many.pdf");
    struct run {
        bool packed;
        unsigned flags;
    };
    for (run r : {run{false, 0u}, run{false, unsigned{MORVEL_OBJECT_STREAMS}}, run{true, 0u}}) {
        std::string pdf = many_pages(16000, r.packed);
        ASSERT_GT(pdf.size(), size_t{32} << 20);
        write_file(in, pdf);
        const unsigned flags = r.flags;
        size_t limit = thread_limit;
        thread_limit = 1;
        ASSERT_EQ(morvel_optimize_ex(in.c_str(), one.c_str(), flags), 1) << morvel_last_error();
        thread_limit = limit;
        ASSERT_EQ(morvel_optimize_ex(in.c_str(), many.c_str(), flags), 1) << morvel_last_error();
        const std::string bytes = read_file(one);
        EXPECT_TRUE(bytes == read_file(many)) << "flags " << flags << (r.packed ? ", packed" : "");
        size_t tags = 0;
        for (size_t at = bytes.find("/Tag ("); at != std::string::npos; at = bytes.find("/Tag (", at + 1)) tags++;
        EXPECT_EQ(tags, r.packed ? 16000u : 0u);
    }
}

// The object scan walks the parts of a large input side by side; a part's
// walk starts at the first header past the part's start, here one of many
// look-alikes in a stream's data that the walk before it passes over.
TEST(Threads, TheScanInPartsMeetsInTheSameTable) {
    scratch_dir dir;
    hostile::file_writer w;
    std::string filler(4 << 20, ' ');
    for (size_t i = 0; i < filler.size(); i++) filler[i] = static_cast<char>('a' + (i * 13) % 26);
    std::string decoys;
    while (decoys.size() < (6u << 20)) decoys += "12 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [ 3 0 R 5 0 R ] /Count 2 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R >>");
    w.add_stream(4, "", filler);
    w.add_stream(7, "", decoys);
    w.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 6 0 R >>");
    w.add_stream(6, "", filler);
    const std::string pdf = w.finish(1);
    std::string in = dir.file("in.pdf"), one = dir.file("one.pdf"), many = dir.file("many.pdf");
    write_file(in, pdf);
    size_t limit = thread_limit;
    thread_limit = 1;
    ASSERT_EQ(morvel_optimize(in.c_str(), one.c_str()), 1) << morvel_last_error();
    thread_limit = limit;
    ASSERT_EQ(morvel_optimize(in.c_str(), many.c_str()), 1) << morvel_last_error();
    const std::string out = read_file(one);
    EXPECT_TRUE(out == read_file(many));
    EXPECT_NE(out.find(decoys), std::string::npos);  // the look-alikes stay data
}

// The writer reads the input's long runs on a thread of its own while it
// writes: the file holds the same bytes as the output made in memory, where
// every run comes from the buffer, and as the output on one thread.
TEST(Threads, TheWriterReadsTheInputAheadOnAThreadOfItsOwn) {
    scratch_dir dir;
    hostile::file_writer w;
    std::string kids;
    const int pages = 60;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int p = 0; p < pages; p++) {
        long page = 10 + 2 * p;
        // Stream lengths between 20 and 400 KB, so that rounds end at each of their limits.
        std::string data(static_cast<size_t>(20000 + (p * 7919) % 380000), ' ');
        for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>('!' + (i * 31 + static_cast<size_t>(p)) % 90);
        w.add(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents " + hostile::ref(page + 1) + " >>");
        w.add_stream(page + 1, "", data);
        kids += hostile::ref(page) + " ";
    }
    w.add(2, "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>");
    const std::string pdf = w.finish(1);
    std::string in = dir.file("in.pdf"), one = dir.file("one.pdf"), many = dir.file("many.pdf");
    write_file(in, pdf);
    void* bytes = nullptr;
    size_t len = 0;
    ASSERT_EQ(morvel_optimize_mem(pdf.data(), pdf.size(), &bytes, &len, 0), 1) << morvel_last_error();
    const std::string want(static_cast<const char*>(bytes), len);
    morvel_free(bytes);
    size_t limit = thread_limit;
    thread_limit = 1;
    ASSERT_EQ(morvel_optimize(in.c_str(), one.c_str()), 1) << morvel_last_error();
    thread_limit = limit;
    ASSERT_EQ(morvel_optimize(in.c_str(), many.c_str()), 1) << morvel_last_error();
    EXPECT_TRUE(read_file(one) == want);
    EXPECT_TRUE(read_file(many) == want);
}

}  // namespace
