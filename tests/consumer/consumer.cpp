// Uses every public member of the installed record, as a program of one's own
// would: the layout and codec, the entries, the image, and files saved,
// loaded, locked and replaced. Each check that fails names its members.
#include <paramlist/Parameter.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

struct Checks {
    int failed = 0;
    void operator()(bool held, const char* members)
    {
        if (!held) {
            std::printf("consumer: %s failed\n", members);
            ++failed;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    const char* file = argv[1];
    Checks check;

    check(Parameter::InitEntries == 50 && Parameter::TerminalConditionEntries == 50 &&
              Parameter::OperationsEntries == 100 && Parameter::NamesEntries == 50 && Parameter::DocumentEntries == 50,
          "the table sizes");
    check(Parameter::NameBytes == 50 && Parameter::InitBytes == 4 && Parameter::RealBytes == 8 &&
              Parameter::DocumentBytes == 1,
          "the entry sizes");
    check(Parameter::InitOffset == 0 && Parameter::TerminalConditionOffset == 200 &&
              Parameter::OperationsOffset == 600 && Parameter::NamesOffset == 1400 &&
              Parameter::DocumentOffset == 3900 && Parameter::FileBytes == 3950 && sizeof(Parameter::Image) == 3950,
          "the offsets");
    unsigned char bytes[8] = {};
    Parameter::write32le(bytes, 0x01020304);
    check(bytes[0] == 4 && Parameter::read32le(bytes) == 0x01020304, "write32le, read32le");
    Parameter::write64le(bytes, 0x0102030405060708);
    check(bytes[0] == 8 && Parameter::read64le(bytes) == 0x0102030405060708, "write64le, read64le");
    Parameter::writeDoubleLe(bytes, -2.5);
    check(Parameter::readDoubleLe(bytes) == -2.5, "writeDoubleLe, readDoubleLe");

    Parameter written;
    check(written.setInitParameter(49, 4000000000UL) && written.getInitParameter(49) == 4000000000UL,
          "setInitParameter, getInitParameter");
    check(written.setTerminalConditionParameter(49, 0.5) && written.getTerminalConditionParameter(49) == 0.5,
          "setTerminalConditionParameter, getTerminalConditionParameter");
    check(written.setOperationsParameter(99, -2.5) && written.getOperationsParameter(99) == -2.5,
          "setOperationsParameter, getOperationsParameter");
    check(written.setNamesParameter(0, "installed") && std::strcmp(written.getNamesParameter(0), "installed") == 0,
          "setNamesParameter, getNamesParameter");
    check(written.setDocumentParameter(7, true) && written.getDocumentParameter(7),
          "setDocumentParameter, getDocumentParameter");
    const Parameter copied(written);
    Parameter assigned;
    assigned = written;
    const Parameter::Image image = written.toImage();
    check(copied.toImage() == image && assigned.toImage() == image, "copies");
    Parameter decoded;
    decoded.fromImage(image.data());
    check(decoded.toImage() == image, "toImage, fromImage");

    check(written.save(file), "save");
    const Parameter loaded(file);
    check(loaded.toImage() == image, "the constructor that loads");
    Parameter read;
    std::size_t length = 0;
    check(read.load(file, &length) && length == 3950 && read.toImage() == image, "load");
    bool replaced = false;
    check(written.write(file, &replaced) && replaced && Parameter().read(file), "write, read");
    const int input = Parameter::openForReading(file);
    check(input >= 0 && Parameter().readFrom(input, &length) && length == 3950, "openForReading, readFrom");
    close(input);
    int ends[2];
    Parameter::Image piped{};
    std::size_t got = 0;
    check(::pipe(ends) == 0 && written.writeTo(ends[1]) &&
              Parameter::readFully(ends[0], piped.data(), piped.size(), got) && got == 3950 && piped == image,
          "writeTo, readFully");
    close(ends[0]);
    close(ends[1]);

    // The calling sequence of EditLock.h: a file created by the lock is
    // replaced under it, and one whose replace failed is removed again.
    const std::string created = std::string(file) + ".created";
    bool made = false;
    const int locked = Parameter::openLocked(created.c_str(), true, &made);
    check(locked >= 0 && made && Parameter::replace(created.c_str(), image.data(), image.size(), &replaced, locked),
          "openLocked, replace");
    close(locked);
    const std::string failed = std::string(file) + ".failed";
    const int unsaved = Parameter::openLocked(failed.c_str(), true, &made);
    Parameter::removeCreated(failed.c_str(), unsaved);
    check(unsaved >= 0 && made && access(failed.c_str(), F_OK) != 0, "removeCreated");
    close(unsaved);
    unlink(created.c_str());

    std::puts(check.failed == 0 ? "consumer: every member of the record works" : "consumer: members failed");
    return check.failed == 0 ? 0 : 1;
}
