// pack-seed MODE PACKAGE ENTRY...: packs files with the archive library (MODE 1 enciphered, 0 plain),
// for seed packages smaller than the sample generator makes.
#include <cstdio>
#include <cstdlib>

#include "supzip.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: pack-seed MODE PACKAGE ENTRY...\n");
        return 1;
    }
    const int mode = std::atoi(argv[1]);
    for (int i = 3; i < argc; ++i) {
        if (CompressToZipEnc(argv[2], argv[i], mode) != 0) {
            std::fprintf(stderr, "cannot pack %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
