#include "registry/product_registration.h"

const char ProductName[] = "tolvin\xE9\x9F\xB3\xE9\xA2\x91\xE6\xA0\xBC\xE5\xBC\x8F\xE8\xBD\xAC\xE6\x8D\xA2\xE5\x99\xA8";

// Placeholder until product registration lands: records nothing yet.
void RegisterProduct() {}
