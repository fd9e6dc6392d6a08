#include "zel_info.h"

int main(int argc, char **argv) {
    return zel_info_main(argc, argv);
}
