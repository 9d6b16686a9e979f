// GPU ELF container writer and compat-note reader.
//
// Layout of the container: ELF header at 0, five section headers at 64, the
// compat note at 384, the section name table at 408, then the kernel
// information text and the code, each on a 16-byte boundary.
#include "vasm/vasm_elf.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

#include "vasm/vasm_kinfo.hpp"

namespace korami {
namespace ovx {
namespace vasm {

namespace {

void wr16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void wr32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void wr64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t rd32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t rd64(const uint8_t* p) { return uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32); }

void section_header(uint8_t* h, uint32_t name, uint32_t type, uint64_t flags, uint64_t offset, uint64_t size) {
    wr32(h + 0, name);
    wr32(h + 4, type);
    wr64(h + 8, flags);
    wr64(h + 24, offset);
    wr64(h + 32, size);
    wr64(h + 48, 16);  // alignment 16 in every header, the null one included
}

const char compat_section_name[] = ".note.tarvogt.compat";

}  // namespace

uint32_t compat_code_of_arch(int32_t arch) {
    switch (arch) {
        case 1: return compat_code_quen1;
        case 2: return compat_code_quen2;
        case 3: return compat_code_quen3;
        case 5: return compat_code_quen5;
        case 6: return compat_code_quen6;
        case 7: return compat_code_quen7;
        case 8: return compat_code_quen8;
        default: return 0;
    }
}

int32_t arch_of_compat_code(uint32_t code) {
    for (int32_t a = 1; a <= 8; ++a)
        if (a != 4 && compat_code_of_arch(a) == code) return a;
    return 0;
}

uint32_t compat_code_of_hardware(int hardware_number) {
    switch (hardware_number) {
        case 1: return compat_code_quen1;
        case 3: return compat_code_quen2;
        case 4: return compat_code_quen3;
        case 6: return compat_code_quen5;
        case 7: return compat_code_quen6;
        case 8: return compat_code_quen7;
        case 9: return compat_code_quen8;
        default: return 0;
    }
}

std::vector<uint8_t> write_gpu_elf(code_generator& gen, const std::vector<uint8_t>& code) {
    const int hw = gen.hardware_number();
    const uint32_t compat = compat_code_of_hardware(hw);
    if (compat == 0) throw std::invalid_argument("no GPU ELF container for this generation");
    if (hw >= 6) {
        // The prologue's labels are public fields: an id outside the table is refused.
        auto target_of = [&gen](label& l) {
            const uint32_t id = new_label_id(l, gen.labels);
            if (id >= gen.labels.targets.size()) throw std::runtime_error("VASM internal error: label id out of range");
            return gen.labels.targets[id];
        };
        const uint32_t first = target_of(gen.per_thread_data_end);
        if (first != label_unplaced) gen.iface.offset_to_skip_per_thread_data_load = int32_t(first);
        const uint32_t second = target_of(gen.payload_load_end);
        if (second != label_unplaced) gen.iface.second_label_offset = int32_t(second);
    }
    return build_gpu_elf(gen.iface, code, compat);
}

std::vector<uint8_t> build_gpu_elf(const kernel_interface& iface, const std::vector<uint8_t>& code,
                                   uint32_t compat_code) {
    const std::string info = generate_ze_info(iface);
    const std::size_t n = iface.kernel_name.size();
    const std::size_t l = info.size();
    const std::size_t c = code.size();
    const std::size_t z = (472 + n) / 16 * 16;
    const std::size_t t = z + (l + 15) / 16 * 16;
    const std::size_t total = t + (c + 15) / 16 * 16;
    std::vector<uint8_t> out(total, 0);
    uint8_t* o = out.data();

    // ELF header.
    std::memcpy(o, "\x7f" "ELF", 4);
    o[4] = 2;  // 64-bit
    o[5] = 1;  // little-endian
    o[6] = 1;  // identification version
    wr16(o + 16, 1);    // relocatable
    wr16(o + 18, 205);  // machine
    wr32(o + 20, 1);
    wr64(o + 40, 64);   // section header table right behind the header
    wr16(o + 52, 64);
    wr16(o + 58, 64);
    wr16(o + 60, 5);
    wr16(o + 62, 1);    // name table is section 1

    section_header(o + 64, 0, 0, 0, 0, 0);
    section_header(o + 128, 1, 3, 0, 408, 48 + n);
    section_header(o + 192, 11, 0xFF000011u, 0, z, l);
    section_header(o + 256, 41, 1, 6, t, c);
    section_header(o + 320, 20, 7, 0, 384, 24);

    // Compat note.
    wr32(o + 384, 8);
    wr32(o + 388, 4);
    wr32(o + 392, 2);
    std::memcpy(o + 396, "TarvoGT", 8);
    wr32(o + 404, compat_code);

    // Section name table: "\0.shstrtab\0.ze_info\0.note.tarvogt.compat\0.text.<name>\0".
    static const char names[] = "\0.shstrtab\0.ze_info\0.note.tarvogt.compat\0.text.";
    static_assert(sizeof(names) - 1 == 47, "fixed part of the name table");
    std::memcpy(o + 408, names, 47);
    if (n) std::memcpy(o + 455, iface.kernel_name.data(), n);

    if (l) std::memcpy(o + z, info.data(), l);
    if (c) std::memcpy(o + t, code.data(), c);
    return out;
}

uint32_t read_compat_note(const uint8_t* d, std::size_t size) {
    const uint64_t n = size;
    if (!d || n < 64 || std::memcmp(d, "\x7f" "ELF", 4) != 0 || d[4] != 2 || d[5] != 1) throw npack::bad_elf();
    const uint64_t shoff = rd64(d + 40);
    const uint64_t shnum = rd16(d + 60);
    const uint64_t shstrndx = rd16(d + 62);
    if (shnum == 0) throw npack::no_binary_section();
    if (rd16(d + 58) != 64 || shoff > n || 64 * shnum > n - shoff || shstrndx >= shnum) throw npack::bad_elf();
    const uint8_t* strh = d + shoff + 64 * shstrndx;
    const uint64_t str_off = rd64(strh + 24), str_size = rd64(strh + 32);
    if (str_off > n || str_size > n - str_off) throw npack::bad_elf();
    const uint64_t want = sizeof(compat_section_name);  // with its zero byte
    for (uint64_t i = 0; i < shnum; ++i) {
        const uint8_t* sh = d + shoff + 64 * i;
        const uint64_t name = rd32(sh);
        if (name >= str_size || str_size - name < want) continue;
        if (std::memcmp(d + str_off + name, compat_section_name, want) != 0) continue;
        const uint64_t off = rd64(sh + 24), len = rd64(sh + 32);
        if (off > n || len > n - off) throw npack::bad_binary_section();
        // Walk the notes: name size, descriptor size, type, then the padded
        // name and the padded descriptor.
        uint64_t p = 0;
        while (len - p >= 12) {
            const uint8_t* note = d + off + p;
            const uint64_t namesz = rd32(note), descsz = rd32(note + 4), type = rd32(note + 8);
            const uint64_t name_pad = (namesz + 3) / 4 * 4, desc_pad = (descsz + 3) / 4 * 4;
            if (name_pad > len - p - 12 || desc_pad > len - p - 12 - name_pad) break;
            if (type == 2 && namesz == 8 && descsz >= 4 && std::memcmp(note + 12, "TarvoGT", 8) == 0)
                return rd32(note + 12 + name_pad);
            p += 12 + name_pad + desc_pad;
        }
        throw npack::bad_binary_section();
    }
    throw npack::no_binary_section();
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
