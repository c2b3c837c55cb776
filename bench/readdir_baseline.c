/* The least a start could do: one readdir pass over each folder named on the command line,
   keeping the names that end in ".wav" or ".mid" in any letter case. */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

static int IsTone(const char* name) {
    const size_t length = strlen(name);
    return length >= 4 && (strcasecmp(name + length - 4, ".wav") == 0 ||
                           strcasecmp(name + length - 4, ".mid") == 0);
}

int main(int argc, char** argv) {
    long found = 0;
    for (int i = 1; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (dir == NULL)
            continue;
        const struct dirent* entry;
        while ((entry = readdir(dir)) != NULL)
            found += IsTone(entry->d_name);
        closedir(dir);
    }
    printf("%ld\n", found);
    return 0;
}
