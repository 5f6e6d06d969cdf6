#pragma once

// The product's display name, UTF-8 (27 bytes), as config.toml records it.
extern const char ProductName[];

// The same name in UTF-16, as the splash draws it and screen readers read it.
extern const wchar_t ProductDisplayName[];

// The installer's own name: the window's title, and the splash's heading when
// the product's name is empty.
extern const wchar_t InstallerTitle[];
