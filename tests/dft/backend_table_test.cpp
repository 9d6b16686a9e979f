// The candidate lists and record names made from the backend table: each
// list's records in trial order, ending with the terminal record; the lists
// reached by precision, domain and rank; one name per record.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace {

struct list_case {
    const char* name;
    int precision, domain;
    std::int64_t rank;
    bkdlist list;
    std::vector<std::string> records;  // in trial order, terminal included
};

const std::vector<list_case>& lists() {
    static const std::vector<list_case> all = {
        {"sc1d", DFTI_SINGLE, DFTI_COMPLEX, 1, bkdlist_sc1d,
         {"bkd_c2c_1d_8k_s_ops", "bkd_c2c_1d_2_facts_s_ops", "bkd_c2c_1d_n_facts_slm_s_ops",
          "bkd_small_md_slm_s_ops", "bkd_c2c_1d_4_facts_s_ops", "bkd_c2c_1d_large_s_ops", "bkd_c2c_1d_n_facts_colbatch_s_ops", "bkd_c2c_1d_4_facts_colbatch_s_ops", "bkd_c2c_1d_3_facts_s_ops",
          "bkd_1d_very_large_s_ops", "bkd_c2c_1d_nonsubgrp_s_ops", "bkd_terminal"}},
        {"dc1d", DFTI_DOUBLE, DFTI_COMPLEX, 1, bkdlist_dc1d,
         {"bkd_c2c_1d_8k_d_ops", "bkd_c2c_1d_2_facts_d_ops", "bkd_c2c_1d_n_facts_slm_d_ops",
          "bkd_small_md_slm_d_ops", "bkd_c2c_1d_4_facts_d_ops", "bkd_c2c_1d_large_d_ops", "bkd_c2c_1d_n_facts_colbatch_d_ops", "bkd_c2c_1d_4_facts_colbatch_d_ops", "bkd_c2c_1d_3_facts_d_ops",
          "bkd_c2c_1d_nonsubgrp_d_ops", "bkd_terminal"}},
        {"sr1d", DFTI_SINGLE, DFTI_REAL, 1, bkdlist_sr1d,
         {"bkd_small_md_slm_s_ops", "bkd_1d_very_large_s_ops", "bkd_r2c_1d_main_s_ops", "bkd_terminal"}},
        {"dr1d", DFTI_DOUBLE, DFTI_REAL, 1, bkdlist_dr1d, {"bkd_small_md_slm_d_ops", "bkd_r2c_1d_main_d_ops", "bkd_terminal"}},
        {"scmd", DFTI_SINGLE, DFTI_COMPLEX, 2, bkdlist_scmd,
         {"bkd_small_md_slm_s_ops", "bkd_c2c_2d_8nx8n_small_s_ops", "bkd_c2c_2d_main_s_ops", "bkd_c2c_3d_cube_s_ops",
          "bkd_c2c_3d_main_s_ops", "bkd_terminal"}},
        {"dcmd", DFTI_DOUBLE, DFTI_COMPLEX, 3, bkdlist_dcmd,
         {"bkd_small_md_slm_d_ops", "bkd_c2c_2d_8nx8n_small_d_ops", "bkd_c2c_2d_main_d_ops", "bkd_c2c_3d_cube_d_ops",
          "bkd_c2c_3d_main_d_ops", "bkd_terminal"}},
        {"srmd", DFTI_SINGLE, DFTI_REAL, 3, bkdlist_srmd,
         {"bkd_small_md_slm_s_ops", "bkd_r2c_2d_main_s_ops", "bkd_r2c_3d_main_s_ops", "bkd_terminal"}},
        {"drmd", DFTI_DOUBLE, DFTI_REAL, 2, bkdlist_drmd,
         {"bkd_small_md_slm_d_ops", "bkd_r2c_2d_main_d_ops", "bkd_r2c_3d_main_d_ops", "bkd_terminal"}},
    };
    return all;
}

std::vector<std::string> names_of(bkdlist l) {
    std::vector<std::string> n;
    for (; *l; ++l) n.push_back(bkd_name(*l));
    return n;
}

TEST(BackendTable, ListsInTrialOrder) {
    for (const list_case& c : lists()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(names_of(c.list), c.records);
        EXPECT_EQ(gpu_dfti_select_bkdlist(c.precision, c.domain, c.rank), c.list);
        // Every list ends with the terminal record, then the null.
        std::size_t n = 0;
        while (c.list[n]) ++n;
        ASSERT_GT(n, 0u);
        EXPECT_EQ(c.list[n - 1], &bkd_terminal);
    }
}

TEST(BackendTable, OneNamePerRecord) {
    std::map<std::string, const bkd_ops*> seen;
    for (const list_case& c : lists())
        for (bkdlist l = c.list; *l; ++l) {
            const auto it = seen.emplace(bkd_name(*l), *l).first;
            EXPECT_EQ(it->second, *l) << "two records named " << it->first;
        }
    // Every record of every list, terminal included.
    EXPECT_EQ(seen.size(), 36u);
}

TEST(BackendTable, Names) {
    EXPECT_STREQ(bkd_name(&bkd_c2c_1d_2_facts_s_ops), "bkd_c2c_1d_2_facts_s_ops");
    EXPECT_STREQ(bkd_name(&bkd_c2c_1d_nonsubgrp_d_ops), "bkd_c2c_1d_nonsubgrp_d_ops");
    EXPECT_STREQ(bkd_name(&bkd_1d_very_large_s_ops), "bkd_1d_very_large_s_ops");
    EXPECT_STREQ(bkd_name(&bkd_terminal), "bkd_terminal");
    const bkd_ops stranger = bkd_terminal;  // same entries, another record
    EXPECT_STREQ(bkd_name(&stranger), "unknown backend");
    EXPECT_STREQ(bkd_name(nullptr), "none");
}

}  // namespace
