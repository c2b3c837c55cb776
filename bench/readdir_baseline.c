/* The least a start could do: one readdir pass over each folder named on the command line,
   keeping the names that end in ".wav" or ".mid" in any letter case. With --stat first, each of
   those is also stat'ed through its folder, as a correct file search must (a search fills in
   each file's size, times and attributes): the least a correct start can do. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

static int IsTone(const char* name) {
    const size_t length = strlen(name);
    return length >= 4 && (strcasecmp(name + length - 4, ".wav") == 0 ||
                           strcasecmp(name + length - 4, ".mid") == 0);
}

int main(int argc, char** argv) {
    long found = 0;
    long long bytes = 0;
    const int withStat = argc > 1 && strcmp(argv[1], "--stat") == 0;
    for (int i = 1 + withStat; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (dir == NULL)
            continue;
        const struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            if (!IsTone(entry->d_name))
                continue;
            ++found;
            struct stat info;
            if (withStat && fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                bytes += info.st_size;
        }
        closedir(dir);
    }
    printf("%ld %lld\n", found, bytes);
    return 0;
}
