# Cross-build for s390x, a big-endian host, to be run under qemu-s390x with
# the cross C library: configure with -DPARAMLIST_STATIC=OFF, since that
# library has no static-pie start files.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
