// Kernel information text (".ze_info") of a finalized kernel interface.
#include "vasm/vasm_kinfo.hpp"

#include <string>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

int register_log2(const kernel_interface& k) { return k.hardware_number < 7 ? 5 : 6; }

int payload_start(const kernel_interface& k) {
    if (k.local_id_dimensions != 0) {
        if (k.simd_size == 1) return 2;
        if (k.hardware_number < 7 && k.simd_size >= 17) return 7;
        return 4;
    }
    return k.hardware_number < 5 ? 2 : 1;
}

// log2 of the width in bits of a location's type.
int width_log2(uint64_t location) { return int((location >> 28) & 7); }

int max_int(int a, int b) { return a > b ? a : b; }

void line(std::string& out, int indent, const std::string& text) {
    out.append(std::size_t(indent), ' ');
    out += text;
    out += '\n';
}

std::string num(int64_t v) { return std::to_string(v); }
std::string unum(uint64_t v) { return std::to_string(v); }

}  // namespace

int32_t payload_offset_of(const kernel_interface& k, uint64_t location) {
    const int32_t reg = int32_t(location & 0x1FF);
    int32_t elem = int32_t((location >> 10) & 0x7FF);
    if (elem & 0x400) elem -= 0x800;  // signed 11-bit element offset
    const int w = width_log2(location);
    const int64_t off = int64_t(reg - payload_start(k)) * (int64_t(1) << register_log2(k)) +
                        int64_t(elem) * (int64_t(1) << (max_int(w, 3) - 3));
    return int32_t(off);
}

std::string generate_ze_info(const kernel_interface& k) {
    if (!k.finalized) throw interface_not_finalized();
    const int r_bytes = 1 << register_log2(k);
    std::string t;
    line(t, 0, "version: 1.8");
    line(t, 0, "kernels: ");
    line(t, 2, "- name: \"" + k.kernel_name + "\"");
    line(t, 4, "execution_env: ");
    line(t, 6, "grf_count: " + num(k.grf_count));
    line(t, 6, "simd_size: " + num(k.simd_size));
    if (k.simd_size >= 2) line(t, 6, "required_sub_group_size: " + num(k.simd_size));
    if (k.required_work_group_size[0] && k.required_work_group_size[1] && k.required_work_group_size[2]) {
        line(t, 6, "required_work_group_size:");
        for (int i = 0; i < 3; ++i) line(t, 8, "- " + unum(k.required_work_group_size[i]));
    }
    if (k.walk_order[0] >= 0) {
        line(t, 6, "work_group_walk_order_dimensions:");
        line(t, 8, "- " + num(k.walk_order[0]));
        line(t, 8, "- " + num(k.walk_order[1]));
        line(t, 8, "- " + num(k.walk_order[2] < 0 ? 0 : k.walk_order[2]));
    }
    if (k.offset_to_skip_per_thread_data_load > 0)
        line(t, 6, "offset_to_skip_per_thread_data_load: " + num(k.offset_to_skip_per_thread_data_load));
    if (k.barrier_count > 0) {
        int64_t printed = 1;
        if (k.barrier_count > 1) {
            int lg = 0;
            for (uint32_t v = uint32_t(k.barrier_count - 1); v > 1; v >>= 1) ++lg;
            printed = int64_t(2) << lg;
        }
        line(t, 6, "barrier_count: " + num(printed));
    }
    if (k.has_4gb_buffers) line(t, 6, "has_4gb_buffers: true");
    if (k.has_dpas) line(t, 6, "has_dpas: true");
    if (k.has_global_atomics) line(t, 6, "has_global_atomics: true");
    if (k.slm_size) line(t, 6, "slm_size: " + unum(k.slm_size));
    if (!k.has_stateless_write) line(t, 6, "has_no_stateless_write: true");
    if (k.disable_mid_thread_preemption) line(t, 6, "disable_mid_thread_preemption: true");
    static const char* const modes[] = {nullptr, "age_based", "round_robin", "round_robin_stall"};
    if (k.thread_scheduling_mode >= 1 && k.thread_scheduling_mode <= 3)
        line(t, 6, std::string("thread_scheduling_mode: ") + modes[k.thread_scheduling_mode]);
    if (k.inline_data_registers > 0)
        line(t, 6, "inline_data_payload_size: " + unum(uint64_t(k.inline_data_registers) * uint64_t(r_bytes)));

    if (!k.arguments.empty()) {
        line(t, 0, "");
        line(t, 4, "payload_arguments: ");
        for (const interface_argument& a : k.arguments) {
            if (a.model & 2) {
                line(t, 6, "- arg_type: arg_bypointer");
                line(t, 8, "arg_index: " + num(a.index));
                line(t, 8, "offset: 0");
                line(t, 8, "size: 0");
                line(t, 8, "addrmode: stateful");
                line(t, 8, "addrspace: global");
                line(t, 8, "access_type: readwrite");
                line(t, 0, "");
            }
            bool local_size = false;
            if (a.kind == 0) {
                line(t, 6, "- arg_type: arg_byvalue");
            } else if (a.kind == 1) {
                if (!(a.model & 1)) continue;
                line(t, 6, "- arg_type: arg_bypointer");
            } else if (a.kind == 2) {
                line(t, 6, "- arg_type: arg_bypointer");
            } else if (a.kind == 3 && a.name == "__local_size0") {
                line(t, 6, std::string("- arg_type: ") + (k.enqueued_local_size ? "enqueued_local_size" : "local_size"));
                local_size = true;
            } else {
                continue;
            }
            const int32_t offset = payload_offset_of(k, a.location.value);
            if (offset < 0) throw unsupported_argument_location_override();
            const int w = width_log2(a.location.value);
            const int64_t size = int64_t(local_size ? 12 : 4) << (max_int(w, 5) - 5);
            if (!local_size) line(t, 8, "arg_index: " + num(a.index));
            line(t, 8, "offset: " + num(offset));
            line(t, 8, "size: " + num(size));
            if (a.model & 1) {
                line(t, 8, "addrmode: stateless");
                line(t, 8, "addrspace: global");
                line(t, 8, "access_type: readwrite");
            } else if (a.kind == 2) {
                line(t, 8, "addrmode: slm");
                line(t, 8, "addrspace: local");
                line(t, 8, "access_type: readwrite");
            }
            line(t, 0, "");
        }
        bool first = true;
        for (const interface_argument& a : k.arguments) {
            if (!(a.model & 2)) continue;
            if (first) {
                line(t, 0, "");
                line(t, 4, "binding_table_indices: ");
                first = false;
            }
            line(t, 6, "- bti_value: " + unum(a.binding_table_index));
            line(t, 8, "arg_index: " + num(a.index));
            line(t, 1, "");
        }
    }

    if (k.local_id_dimensions != 0) {
        line(t, 0, "");
        line(t, 4, "per_thread_payload_arguments: ");
        if (k.simd_size == 1) {
            line(t, 6, "- arg_type: packed_local_ids");
            line(t, 8, "offset: 0");
            line(t, 8, "size: 6");
        } else {
            int size = 3 * r_bytes;
            if (k.hardware_number < 7 && k.simd_size >= 17) size *= 2;
            line(t, 6, "- arg_type: local_id");
            line(t, 8, "offset: 0");
            line(t, 8, "size: " + num(size));
        }
        line(t, 2, "");
    }
    line(t, 0, "");
    return t;
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
