// Helpers shared by the tests: scratch directories, files and commands.
#ifndef MORVEL_TEST_UTIL_H
#define MORVEL_TEST_UTIL_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testutil {

namespace fs = std::filesystem;

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

// A copy of text that lives until the test program ends, for records whose
// body views text the way the loader's records view the input.
inline std::string_view kept(const std::string& text) {
    static std::deque<std::string> texts;
    return texts.emplace_back(text);
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

}  // namespace testutil

#endif
