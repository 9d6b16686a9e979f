// Compute of nodes committed on the CPU transform library and the verbose
// description of those calls.
#include "fftw/ovx_fftw_cpu.hpp"

#include <ovx_serv.h>

#include <cstdint>

#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace {

std::int64_t compute(DFTI_DESCRIPTOR* node, int direction, void* a1, void* a2, void* a3, void* a4) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    dfti_cpu_compute_fn fn = direction == 0 ? node->cpu_compute_fwd : node->cpu_compute_bwd;
    // A node owned by a GPU backend holds GPU entries in the same slots.
    if (!fn || node->bkd) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    if (!a1) return DFTI_STATUS_INVALID_DESCRIPTOR;
    void* arrays[3] = {a2, a3, a4};
    for (int i = 0; i < 3; ++i) {
        if (node->data_array_count > i + 1) {
            if (!arrays[i]) return DFTI_STATUS_INVALID_DESCRIPTOR;
        } else {
            arrays[i] = nullptr;
        }
    }
    const int* mode = ovx_serv_verbose_mode();
    if (!mode || *mode == 0) return fn(node, a1, arrays[0], arrays[1], arrays[2], nullptr);
    const double t0 = ovx_serv_dsecnd();
    const int st = fn(node, a1, arrays[0], arrays[1], arrays[2], nullptr);
    dfti_print_verbose(node, a1, arrays[0], ovx_serv_dsecnd() - t0, direction);
    return st;
}

long long ll(std::int64_t v) { return static_cast<long long>(v); }
unsigned long long ull(std::int64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

std::int64_t dfti_compute_forward(DFTI_DESCRIPTOR* node, void* a1, void* a2, void* a3, void* a4) {
    return compute(node, 0, a1, a2, a3, a4);
}

std::int64_t dfti_compute_backward(DFTI_DESCRIPTOR* node, void* a1, void* a2, void* a3, void* a4) {
    return compute(node, 1, a1, a2, a3, a4);
}

void dfti_describe_for_verbose(DFTI_DESCRIPTOR* node, char** pos, std::size_t* remaining, int direction) {
    const dfti_method_table* m = node->methods;
    std::int64_t rank = 0;
    m->get_rank(node, &rank);
    if (rank < 1 || rank > DFTI_MAX_RANK) return;
    const int R = static_cast<int>(rank);
    std::int64_t L[DFTI_MAX_RANK] = {}, IS[DFTI_MAX_RANK + 1] = {}, OS[DFTI_MAX_RANK + 1] = {};
    m->get_lengths(node, L);
    m->get_input_strides(node, IS);
    m->get_output_strides(node, OS);
    bool strides_case = true;
    for (int k = 0; k <= R; ++k) strides_case = strides_case && IS[k] == 0 && OS[k] == 0;
    if (strides_case) {
        m->get_fwd_strides(node, direction == 0 ? IS : OS);
        m->get_bwd_strides(node, direction == 0 ? OS : IS);
    }
    std::int64_t T = 1, ID = 0, OD = 0;
    m->get_number_of_transforms(node, &T);
    m->get_input_distance(node, &ID);
    m->get_output_distance(node, &OD);
    const bool many = static_cast<std::uint64_t>(T) > 1;
    bool distance_case = false;
    if (many && ID == 0 && OD == 0) {
        m->get_fwd_distance(node, direction == 0 ? &ID : &OD);
        m->get_bwd_distance(node, direction == 0 ? &OD : &ID);
        distance_case = true;
    }
    const bool real = node->forward_domain == DFTI_REAL;
    const bool in_place = node->placement == DFTI_INPLACE;
    bool NS = false, ND = false, V = false;
    if (!real) {
        V = IS[1] == T && ID == 1 && (in_place || (OS[1] == T && OD == 1));
        for (int k = 1; V && k < R; ++k)
            if (IS[k + 1] != IS[k] * L[k - 1] || (!in_place && OS[k + 1] != OS[k] * L[k - 1])) V = false;
        if (!V) {
            std::int64_t p = 1;
            for (int k = 0; k < R; ++k) {
                if (k > 0) p *= L[k - 1];
                if (IS[k + 1] != p || (!in_place && OS[k + 1] != p)) NS = ND = true;
            }
            if (!ND && many) {
                p *= L[R - 1];
                ND = ID != p || (!in_place && OD != p);
            }
        }
    } else {
        const std::int64_t h = static_cast<std::int64_t>(static_cast<std::uint64_t>(L[0]) / 2 + 1);
        auto real_factor = [&](int k) { return k == 1 ? (in_place ? 2 * h : L[0]) : L[k - 1]; };
        auto complex_factor = [&](int k) { return k == 1 ? h : L[k - 1]; };
        auto check = [&](const std::int64_t* S, std::int64_t dist, bool real_side) {
            std::int64_t p = 1;
            for (int k = 0; k < R; ++k) {
                if (k > 0) p *= real_side ? real_factor(k) : complex_factor(k);
                if (S[k + 1] != p) {
                    NS = ND = true;
                    return;
                }
            }
            if (!ND && many) {
                p *= real_side ? real_factor(R) : complex_factor(R);
                if (dist != p) ND = true;
            }
        };
        if (direction == 0) {
            check(IS, ID, true);
            check(OS, OD, false);
        } else {
            check(OS, OD, true);
            check(IS, ID, false);
        }
    }
    char* p = *pos;
    std::size_t* rem = remaining;
    p = append_formatted(p, rem, "%s%s%s%s%s%s", "FFT(", node->precision == DFTI_DOUBLE ? "d" : "s",
                         real ? "r" : "c", direction == 0 ? "f" : "b", in_place ? "i" : "o",
                         !real && node->complex_storage == DFTI_REAL_REAL ? "/" : "");
    for (int k = R - 1; k >= 0; --k) {
        const char* x = k == R - 1 ? "" : "x";
        if (NS) p = append_formatted(p, rem, "%s%llu:%lld:%lld", x, ull(L[k]), ll(IS[k + 1]), ll(OS[k + 1]));
        else p = append_formatted(p, rem, "%s%llu", x, ull(L[k]));
    }
    if (many) {
        if (V) {
            p = append_formatted(p, rem, "v%llu", ull(T));
        } else {
            p = append_formatted(p, rem, "*%llu", ull(T));
            if (ND) p = append_formatted(p, rem, ":%lld:%lld", ll(ID), ll(OD));
        }
    }
    p = append_formatted(p, rem, "%s", ",");
    const char* in_label = !strides_case ? "input_strides:{" : direction == 0 ? "fwd_strides:{" : "bwd_strides:{";
    const char* out_label = !strides_case ? "output_strides:{" : direction == 0 ? "bwd_strides:{" : "fwd_strides:{";
    const std::int64_t* blocks[2] = {IS, OS};
    const char* labels[2] = {in_label, out_label};
    for (int b = 0; b < 2; ++b) {
        p = append_formatted(p, rem, "%s%lld", labels[b], ll(blocks[b][0]));
        for (int k = R; k >= 1; --k) p = append_formatted(p, rem, ",%lld", ll(blocks[b][k]));
        p = append_formatted(p, rem, "%s", "},");
    }
    if (many || ID != 0 || OD != 0) {
        p = append_formatted(p, rem, "%s%lld,",
                             !distance_case ? "input_distance:" : direction == 0 ? "fwd_distance:" : "bwd_distance:",
                             ll(ID));
        p = append_formatted(p, rem, "%s%lld,",
                             !distance_case ? "output_distance:" : direction == 0 ? "bwd_distance:" : "fwd_distance:",
                             ll(OD));
    }
    if (!(node->forward_scale == 1.0)) p = append_formatted(p, rem, "%s%lg,", "fScale:", node->forward_scale);
    if (!(node->backward_scale == 1.0)) p = append_formatted(p, rem, "%s%lg,", "bScale:", node->backward_scale);
    if (real && node->conjugate_even_storage == DFTI_COMPLEX_REAL)
        p = append_formatted(p, rem, "%s%s,", "pack:",
                             node->packed_format == DFTI_CCS_FORMAT    ? "ccs"
                             : node->packed_format == DFTI_PACK_FORMAT ? "pack"
                                                                       : "perm");
    *pos = p;
}

void dfti_verbose_text(DFTI_DESCRIPTOR* node, const void* a1, const void* a2, int direction, char* text) {
    text[0] = 0;
    char* p = text;
    std::size_t rem = 511;
    dfti_describe_for_verbose(node, &p, &rem, direction);
    std::int64_t limit = 0;
    node->methods->get_thread_limit(node, &limit);
    if (node->workspace != DFTI_ALLOW)
        p = append_formatted(p, &rem, "%s%s,", "wSpace:", node->workspace == DFTI_AVOID ? "avoid" : "none");
    if (node->destroy_input) p = append_formatted(p, &rem, "%s,", "destroy_input:allow");
    p = append_formatted(p, &rem, "%s%lld,", "tLim:", ll(limit));
    if (a1 && reinterpret_cast<std::uintptr_t>(a1) % 64) p = append_formatted(p, &rem, "%s,", "unaligned_input");
    if (a2 && reinterpret_cast<std::uintptr_t>(a2) % 64) p = append_formatted(p, &rem, "%s,", "unaligned_output");
    append_formatted(p, &rem, "%s%p%s", "desc:", static_cast<void*>(node), ")");
}

void dfti_print_verbose(DFTI_DESCRIPTOR* node, const void* a1, const void* a2, double seconds, int direction) {
    char text[512];
    dfti_verbose_text(node, a1, a2, direction, text);
    ovx_serv_print_verbose_info(0, text, seconds);
}
