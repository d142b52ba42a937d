/* Links the installed shared library and calls an exported function. */
#include <mpfix.h>
#include <stdio.h>

int main(void) {
    int16_t block[64] = {8};
    int i;
    if (MPG_DCTInv_8x8(block) != 0) return 1;
    for (i = 0; i < 64; ++i) {
        if (block[i] != 1) {
            fprintf(stderr, "unexpected IDCT output %d at %d\n", block[i], i);
            return 1;
        }
    }
    return 0;
}
