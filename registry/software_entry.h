#pragma once
// No Windows headers here: the line rules that read and write it also build
// natively for the fuzzer.
#include <string>

// One product in the per-user config.toml. Fields are raw bytes (UTF-8 by
// convention) and pass through reading and writing unchanged.
struct SoftwareEntry {
    std::string name;
    std::string product_id;
    std::string distributor_id;
};
