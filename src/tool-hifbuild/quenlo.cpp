#include <cstdio>

#include "tool-hifbuild/hifbuild.h"

int main() {
    return kelvra::hifbuild::Run(stdout);
}
