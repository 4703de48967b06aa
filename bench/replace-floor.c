/* The file system's own cost of a crash-safe replace, the floor that
 * `paramlist --set` is measured against: for each FILE, write a 3950-byte
 * temporary beside it, flush it, rename it over FILE, flush the directory.
 * Nothing else: no read, no lock, no identity kept.
 *
 * Usage: replace-floor FILE...   (cc -O2 -o replace-floor replace-floor.c) */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int fail(const char* path)
{
    perror(path);
    return 1;
}

int main(int argc, char** argv)
{
    static unsigned char image[3950];
    char temporary[4096];
    char directory[4096] = "";
    int folder = -1;
    for (int i = 1; i < argc; ++i) {
        const char* slash = strrchr(argv[i], '/');
        const size_t length = slash == NULL ? 1 : (size_t)(slash - argv[i]);
        /* One descriptor for a run of files in the same directory. */
        if (length >= sizeof directory || strncmp(directory, slash ? argv[i] : ".", length) != 0 ||
            directory[length] != '\0') {
            if (folder >= 0) {
                close(folder);
            }
            snprintf(directory, sizeof directory, "%.*s", (int)length, slash ? argv[i] : ".");
            folder = open(directory, O_RDONLY | O_DIRECTORY);
            if (folder < 0) {
                return fail(directory);
            }
        }
        snprintf(temporary, sizeof temporary, "%s.floor-%d", argv[i], (int)getpid());
        const int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, image, sizeof image) != (ssize_t)sizeof image || fsync(fd) != 0 || close(fd) != 0 ||
            rename(temporary, argv[i]) != 0 || fsync(folder) != 0) {
            return fail(argv[i]);
        }
    }
    return 0;
}
