#pragma once

// The product's display name, UTF-8 (27 bytes); drawn on the splash and written
// into config.toml.
extern const char ProductName[];

// Records the product in %USERPROFILE%\.tolvin\config.toml. Silent on every failure.
void RegisterProduct();
