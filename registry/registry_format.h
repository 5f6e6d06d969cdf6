#pragma once
// The config.toml line rules as pure functions of bytes. No Windows headers here:
// this file also builds natively for the fuzzer.
#include <string>
#include <vector>

#include "registry/software_entry.h"

// Reads file bytes the way a text-mode stream would deliver them (CR LF becomes
// LF, a 0x1A byte ends the input) and picks the records out line by line.
// Accepts any bytes; records without a product_id are dropped.
std::vector<SoftwareEntry> ParseSoftwareRegistry(const std::string& fileBytes);

// The canonical on-disk layout: four CR LF lines per record, nothing else, no BOM.
// Field bytes go out unchanged.
std::string FormatSoftwareRegistry(const std::vector<SoftwareEntry>& entries);
