#pragma once
#include <string>
#include <vector>

// One product in the per-user config.toml. Fields are raw bytes (UTF-8 by
// convention) and pass through reading and writing unchanged.
struct SoftwareEntry {
    std::string name;
    std::string product_id;
    std::string distributor_id;
};

// Never fails: a missing or unreadable file reads as an empty sequence.
std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring& path);

// Replaces the file with the canonical layout; reports nothing.
void WriteSoftwareRegistry(const std::wstring& path, const std::vector<SoftwareEntry>& entries);
