#include "zel_ldd.h"

int main(int argc, char **argv) {
    return zel_ldd_main(argc, argv);
}
