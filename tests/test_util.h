// Helpers shared by the tests: scratch directories, files, and a small
// builder of classic PDF files with a correct cross-reference table.
#ifndef MORVEL_TEST_UTIL_H
#define MORVEL_TEST_UTIL_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/messages.h"
#include "base/error.h"
#include "load/document.h"
#include "load/loader.h"
#include "load/trailer_facts.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace testutil {

namespace fs = std::filesystem;

// An input buffer holding bytes, as reading a file would leave it.
inline input_file input_from(const std::string& bytes) {
    input_file in;
    in.data.reset(static_cast<char*>(std::malloc(bytes.size() + 1)));
    std::memcpy(in.data.get(), bytes.data(), bytes.size());
    in.data[bytes.size()] = '\0';
    in.len = static_cast<int32_t>(bytes.size());
    return in;
}

// Gives a document whose table was built by hand the input text that its
// trailer facts are read from.
inline void set_input(document& doc, const std::string& bytes) {
    doc.input = input_from(bytes);
    doc.trailer = find_trailer_facts(doc.input, doc.xref_streams);
}

// A document loaded from bytes as the optimizer loads a file.
inline status load_from(document& doc, const std::string& bytes) {
    doc.input = input_from(bytes);
    return load_document(doc);
}

// The message the library would give for a failed status.
inline std::string message_of(const status& s, const char* in = "in.pdf", const char* out = "out.pdf") {
    clear_error();
    report(s, in, out);
    return g_err;
}

// A fresh directory under the system temp dir, removed with its contents.
class scratch_dir {
   public:
    scratch_dir() {
        std::string tmpl = (fs::temp_directory_path() / "morvel-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~scratch_dir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

   private:
    fs::path path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline bool file_exists(const std::string& path) { return fs::exists(path); }

// Runs a shell command; returns its exit status and fills out with stdout.
inline int run(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

inline bool have_tool(const std::string& name) {
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

// A table record with its text and the /Type flags the scanner would set.
inline pdf_obj typed_record(int32_t num, const std::string& body) {
    pdf_obj o;
    o.num = num;
    o.body = body;
    int t = check_dict_type(body.data(), static_cast<int32_t>(body.size()));
    o.is_page = t == TYPE_PAGE;
    o.is_pages = t == TYPE_PAGES;
    o.is_catalog = t == TYPE_CATALOG;
    return o;
}

// Builds "%PDF-1.4" files from object texts. Objects are numbered in the
// order they are added unless a number is given; the trailer names /Root.
class pdf_builder {
   public:
    // body is what stands between "N 0 obj\n" and "\nendobj\n".
    int add(const std::string& body, int num = 0) {
        if (num == 0) num = next_++;
        else if (num >= next_) next_ = num + 1;
        objs_.emplace_back(num, body);
        return num;
    }
    // A stream object with a correct /Length; dict_extra goes inside << >>.
    int add_stream(const std::string& dict_extra, const std::string& data, int num = 0) {
        return add("<< " + dict_extra + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
                       data + "\nendstream",
                   num);
    }
    std::string build(int root, const std::string& trailer_extra = "") const {
        std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
        std::vector<std::pair<int, size_t>> offs;
        int size = 1;
        for (const auto& [num, body] : objs_) {
            offs.emplace_back(num, out.size());
            out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
            if (num + 1 > size) size = num + 1;
        }
        size_t xref = out.size();
        out += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
        for (int n = 1; n < size; n++) {
            size_t off = 0;
            bool found = false;
            for (const auto& [num, o] : offs)
                if (num == n) off = o, found = true;
            char line[32];
            snprintf(line, sizeof line, "%010zu %05d %c \n", found ? off : 0, found ? 0 : 65535,
                     found ? 'n' : 'f');
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) +
               " 0 R" + trailer_extra + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

   private:
    std::vector<std::pair<int, std::string>> objs_;
    int next_ = 1;
};

// A minimal document with n pages: catalog 1, page tree 2, then for each
// page its content stream and its page object, then one shared font.
inline std::string simple_pdf(int pages) {
    const int font = 2 * pages + 3;
    std::string kids;
    for (int i = 0; i < pages; i++) kids += std::to_string(4 + 2 * i) + " 0 R ";
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>", 2);
    for (int i = 0; i < pages; i++) {
        int content = b.add_stream(
            "", "BT /F1 24 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET", 3 + 2 * i);
        b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                  std::to_string(content) + " 0 R /Resources << /Font << /F1 " +
                  std::to_string(font) + " 0 R >> >> >>",
              4 + 2 * i);
    }
    b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", font);
    return b.build(1);
}

}  // namespace testutil

#endif
