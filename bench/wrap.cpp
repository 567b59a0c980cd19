// wrap: puts a raw disk image into a container, with the tests' own
// builders (tests/container_builders.h), for the container benchmarks.
//
//   wrap jvc|vdk|dmk|imd <raw image> <cylinders> <out>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "container_builders.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: wrap jvc|vdk|dmk|imd <raw image> <cylinders> <out>\n");
        return 2;
    }
    const std::string kind = argv[1];
    std::FILE* in = std::fopen(argv[2], "rb");
    if (!in) return 1;
    dvtest::bytes raw;
    for (int c; (c = std::fgetc(in)) != EOF;) raw.push_back(static_cast<unsigned char>(c));
    std::fclose(in);
    const unsigned cylinders = static_cast<unsigned>(std::atoi(argv[3]));
    dvtest::bytes out = kind == "jvc"   ? dvtest::make_jvc(raw, 2)
                        : kind == "vdk" ? dvtest::make_vdk(raw, cylinders, 2)
                        : kind == "dmk" ? dvtest::make_dmk(raw, cylinders, 2)
                        : kind == "imd" ? dvtest::make_imd(raw, cylinders, 2)
                                        : dvtest::bytes{};
    if (out.empty()) return 2;
    std::FILE* f = std::fopen(argv[4], "wb");
    if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size()) return 1;
    return std::fclose(f) == 0 ? 0 : 1;
}
