// The corpus beside the project, when it is there: its manifest's rows,
// read by column name.
#ifndef MORVEL_TEST_CORPUS_H
#define MORVEL_TEST_CORPUS_H

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace testutil {

inline std::string corpus_dir() { return MORVEL_CORPUS_DIR; }

struct manifest_row {
    std::map<std::string, std::string> cols;

    std::string get(const std::string& name) const {
        auto it = cols.find(name);
        return it == cols.end() ? std::string() : it->second;
    }
    std::string file() const { return get("file"); }
    std::string path() const { return corpus_dir() + "/" + file(); }
    long pages() const { return std::strtol(get("pages").c_str(), nullptr, 10); }
    bool encrypted() const { return get("encrypted") == "yes"; }
    // qpdf --check of the input fails (damaged, or no password).
    bool qpdf_errors() const { return get("qpdf_check") == "errors"; }
};

// Every row of MANIFEST.tsv; none when the corpus is absent.
inline std::vector<manifest_row> read_manifest() {
    std::vector<manifest_row> rows;
    std::ifstream in(corpus_dir() + "/MANIFEST.tsv");
    std::string line;
    std::vector<std::string> names;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        size_t s = 0;
        for (size_t t; (t = line.find('\t', s)) != std::string::npos; s = t + 1) f.push_back(line.substr(s, t - s));
        f.push_back(line.substr(s));
        if (names.empty()) {
            names = f;
            continue;
        }
        manifest_row row;
        for (size_t i = 0; i < names.size() && i < f.size(); i++) row.cols[names[i]] = f[i];
        if (!row.file().empty()) rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace testutil

#endif
