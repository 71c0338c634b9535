// Dictionaries read out of object texts: key values, entries, copies and
// the /Type tests.
#include <gtest/gtest.h>

#include <string>

#include "pdf/dict.h"

namespace {

int32_t L(const std::string& s) { return static_cast<int32_t>(s.size()); }

TEST(Dict, DictInt) {
    std::string s = "<</N 3/First 17>>";
    EXPECT_EQ(dict_int(s.data(), L(s), "N"), 3);
    EXPECT_EQ(dict_int(s.data(), L(s), "First"), 17);
    s = "<</N /Name /A [1]>>";
    EXPECT_EQ(dict_int(s.data(), L(s), "N"), -1);
    EXPECT_EQ(dict_int(s.data(), L(s), "A"), -1);
    EXPECT_EQ(dict_int(s.data(), L(s), "Missing"), -1);
}

TEST(Dict, ExtractDict) {
    EXPECT_EQ(extract_dict_text("1 0 R>>", 0, 5), "1 0 R");
    EXPECT_EQ(extract_dict_text("abc", 2, 2), "");
    EXPECT_EQ(extract_dict_text("abc", -1, 2), "");

    struct { std::string text; int32_t pos; std::string want; } cases[] = {
        {"<</A 1>>", 0, "<</A 1>>"},
        {"<</A <</B 2>> >> rest", 0, "<</A <</B 2>> >>"},
        {"<</A 1", 0, ""},
        {"<", 0, ""},
        {"x<</A 1>>", 1, "<</A 1>>"},
        {"<</S <3E>>>", 0, "<</S <3E>>"},  // a hex string before ">>" closes early
        {"<</A 1>", 0, ""},
    };
    for (auto& c : cases) EXPECT_EQ(extract_dict_at(c.text.data(), L(c.text), c.pos), c.want) << c.text;
}

TEST(Dict, DictType) {
    struct { std::string text; int want; } cases[] = {
        {"<</Type/Catalog/Pages 3 0 R>>", TYPE_CATALOG},
        {"<</Type /Pages/Kids[]>>", TYPE_PAGES},
        {"<</Type /Page>>", TYPE_PAGE},
        {"<</Type /PageLabel>>", TYPE_NONE},
        {"<</Types /Page>>", TYPE_NONE},
        {"<</Type /Font /X 1 /Type /Page>>", TYPE_PAGE},
        {"<</Type /Page_2>>", TYPE_PAGE},
        {"<</Type /Pagesx>>", TYPE_NONE},
        {"/Type /Page", TYPE_PAGE},
        {"/Type /Pages", TYPE_PAGES},
        {"/Type", TYPE_NONE},
    };
    for (auto& c : cases) EXPECT_EQ(check_dict_type(c.text.data(), L(c.text)), c.want) << c.text;

    std::string x = "<</Type /XRef/W[1 2 1]>>";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 1);
    x = "<</Type /XRefStm>>";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 0);
    x = "<</Type/ObjStm/N 3/First 20>>";
    EXPECT_EQ(has_type(x.data(), L(x), "ObjStm"), 1);
    x = "<</Type /Font /Type /XRef";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 1);
}

TEST(Dict, Entries) {
    struct {
        const char* text;
        const char* want;  // key=value, separated by "|"
    } cases[] = {
        {"<</Type/Catalog/Pages 2 0 R/Outlines 3 0 R>>", "Type=/Catalog|Pages=2 0 R|Outlines=3 0 R|"},
        {"[/X 1] << /K 1 >>", "K=1|"},  // from the first "<<"
        {"<< xyz /K 1 >> /L 2", "K=1|"},
        {"<< /A << /B [1 (x]>>) <3e>] >> /C [ [ ] ] /D (a\\)b) /E <41> /F 12.5 >>",
         "A=<< /B [1 (x]>>) <3e>] >>|C=[ [ ] ]|D=(a\\)b)|E=<41>|F=12.5|"},
        {"<</A [<< >> ]/B 1>>", "A=[<< >> ]|B=1|"},  // one depth for both brackets
        {"<</A/B/C(x)/D<<>>>>", "A=/B|C=(x)|D=<<>>|"},
        {"<< /R 5\n0 R /S 6 0 RG >>", "R=5\n0 R|S=6|"},
        {"<< /K%c\n/L 1 >>", "K=|L=1|"},
        {"<< /A [1 2", "A=[1 2|"},
        {"<< /A", "A=|"},
        {"<< /A >>", "A=|"},
        {"no dictionary", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text, got;
        for (const dict_entry& e : dict_entries(text))
            got += e.key + "=" + text.substr(static_cast<size_t>(e.value_start),
                                             static_cast<size_t>(e.value_end - e.value_start)) + "|";
        EXPECT_EQ(got, c.want) << c.text;
    }
}

}  // namespace
