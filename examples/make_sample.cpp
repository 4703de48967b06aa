// Writes the sample parameter file shipped in examples/: a small furnace
// control set, built through the Parameter API as any program using the
// header would.
//
//   build/make_sample examples/sample.par

#include "../Parameter.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("Usage: make_sample FILE\n", stderr);
        return 2;
    }
    Parameter para;
    const unsigned long init[][2] = {{0, 3}, {1, 1200}, {2, 60}, {5, 4000000000UL}, {12, 42}};
    for (const auto& entry : init) {
        para.setInitParameter(static_cast<unsigned>(entry[0]), entry[1]);
    }
    const double operations[][2] = {{0, 1.5},    {3, 0.25},         {9, -12.75}, {10, 850},
                                    {11, 0.001}, {25, 1234567.891}, {60, -3.5},  {99, 2.5e-7}};
    for (const auto& entry : operations) {
        para.setOperationsParameter(static_cast<unsigned>(entry[0]), entry[1]);
    }
    const double terminal[][2] = {{0, 1050}, {1, 0.05}, {4, 3600}, {49, -40}};
    for (const auto& entry : terminal) {
        para.setTerminalConditionParameter(static_cast<unsigned>(entry[0]), entry[1]);
    }
    for (unsigned i : {0u, 4u, 17u}) {
        para.setDocumentParameter(i, true);
    }
    const char* names[] = {"furnace zone 1", "furnace zone 2", "feed rate", "quench delay",
                           "cooling ramp",   "soak time",      "gas flow",  "door interlock"};
    for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i) {
        para.setNamesParameter(i, names[i]);
    }
    return para.save(argv[1]) ? 0 : 1;
}
