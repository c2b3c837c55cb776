// tavonne-device: creates the phone's device folder and looks inside it.
#include <stdio.h>

int main(int argc, char** argv) {
    fprintf(stderr, "usage: tavonne-device init | reg ... | path DEVICE_PATH\n");
    return 2;
}
