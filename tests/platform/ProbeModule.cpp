// A shared object with a Windows file name (NuvaProbe.dll) beside the POSIX
// test program, for the COM runtime's LoadLibraryA search.
extern "C" __attribute__((visibility("default"))) int NuvaProbeAnswer() {
    return 42;
}
