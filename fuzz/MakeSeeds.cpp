// SPDX-License-Identifier: MIT
// Writes the sample files into a folder as the fuzzer's starting corpus.
#include "SampleFiles.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds FOLDER\n");
        return 2;
    }
    for (const TestSupport::SampleFile& sample : TestSupport::SampleFiles()) {
        const std::string& name = sample.name;
        const TestSupport::Bytes& bytes = sample.bytes;
        std::ofstream out(std::string(argv[1]) + "/" + name + ".bmp", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make-fuzz-seeds: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
