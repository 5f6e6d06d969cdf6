#include "registry/software_registry.h"

// Placeholder until the config.toml reader and writer land: reads nothing, writes nothing.
std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring&) { return {}; }
void WriteSoftwareRegistry(const std::wstring&, const std::vector<SoftwareEntry>&) {}
