// Saves a record, loads it back into another, and checks what came back.
#include <paramlist/Parameter.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    Parameter written;
    written.setInitParameter(49, 4000000000UL);
    written.setOperationsParameter(99, -2.5);
    written.setNamesParameter(0, "installed");
    written.setDocumentParameter(7, true);
    if (!written.save(argv[1])) {
        return 1;
    }
    const Parameter read(argv[1]);
    const bool same = read.getInitParameter(49) == 4000000000UL && read.getOperationsParameter(99) == -2.5 &&
                      std::strcmp(read.getNamesParameter(0), "installed") == 0 && read.getDocumentParameter(7);
    std::puts(same ? "consumer: record read back equal" : "consumer: record differs");
    return same ? 0 : 1;
}
