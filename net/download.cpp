#include "net/download.h"

// Placeholder until the download engine lands: every download fails.
bool DownloadFile(const std::string&, const std::string&, std::string& errorText, ProgressCallback)
{
    errorText = "not implemented";
    return false;
}
