#pragma once

// Confines DLL loading to System32 for the whole process. The installer runs
// with administrator rights from a folder anyone can drop files into (the
// browser's downloads), and Windows looks in the program's own folder first for
// every DLL that is not a KnownDLL. Called first thing in the entry, before
// anything can load a DLL.
void LimitDllSearchToSystem32();
