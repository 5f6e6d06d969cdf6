// Stands in for the downloaded setup program: takes a moment, then records in
// its current directory that it ran to the end and with which command line.
#include <windows.h>

#include <cstdio>

int main()
{
    Sleep(1500);
    FILE* out = std::fopen("fake-setup-ran.txt", "w");
    if (!out)
        return 1;
    std::fprintf(out, "%ls\n", GetCommandLineW());
    std::fclose(out);
    return 7;
}
