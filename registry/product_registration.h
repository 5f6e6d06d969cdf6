#pragma once
#include <string>

// Records the product in %USERPROFILE%\.tolvin\config.toml. Silent on every failure.
void RegisterProduct();

// The same for a given profile folder: hides (and creates) profileFolder\.tolvin,
// marks or adds the product's record in its config.toml and writes the file back.
// A config.toml that exists but cannot be read, is a link or has more than one
// link is left alone, and so is a .tolvin that is a junction or a symbolic link.
void RegisterProductInProfile(const std::wstring& profileFolder);
