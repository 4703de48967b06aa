/* The file system's own cost of reading a fleet, the floor that the modes
 * reading many files (--check, --json, --csv, --get) are measured against:
 * for each FILE, open it, read it to its end, close it, on one thread.
 * Nothing else: no record decoded, nothing written.
 *
 * Usage: read-floor FILE...   (cc -O2 -o read-floor read-floor.c) */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    /* Room for more than a whole image, so that a sound file takes one read
     * and a second one that finds its end, as a reader that must know where
     * the file ends makes. */
    static unsigned char buffer[1 << 14];
    for (int i = 1; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            perror(argv[i]);
            return 1;
        }
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        }
        if (got < 0 || close(fd) != 0) {
            perror(argv[i]);
            return 1;
        }
    }
    return 0;
}
